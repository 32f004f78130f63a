// The picture loader (GIF and Windows bitmap) on arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "platform/gdi/gdi.h"
#include "platform/picture/picture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Legal but huge images would only measure the allocator.
  gdi::SetPixelLimit(std::int64_t(4096) * 4096);
  if (auto pic = platform::LoadPictureFromMemory(data, size)) {
    const auto* b = pic->Handle();
    volatile std::uint32_t sink = 0;
    if (b->Width() > 0 && b->Height() > 0) sink = b->ColorAt(b->Width() - 1, b->Height() - 1);
    (void)sink;
    (void)platform::EncodeBmp24(*b);
  }
  return 0;
}
