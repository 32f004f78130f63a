// The settings reader on arbitrary INI text: the profile look-up and the
// number conversion of every key the program reads.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/system/system.h"
#include "settings/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (const char* key : {"Pass", "File", "Trans"}) {
    if (auto v = sys::FindProfileValue(text, "Section", key)) {
      (void)ParseSettingNumber(*v);
      (void)FolderOf(*v);
      (void)DeriveSourceNames(*v);
    }
  }
  // The same text as a section or key name.
  (void)sys::FindProfileValue(text, text, text);
  return 0;
}
