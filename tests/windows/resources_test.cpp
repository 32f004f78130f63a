// velkor-split.exe as Windows sees it: an icon it can draw at the sizes it
// asks for, and the program's version.
#define NOMINMAX
#include <windows.h>
// After windows.h:
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::wstring Wide(const char* s) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, s, -1, nullptr, 0);
  std::wstring w(std::size_t(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s, -1, w.data(), n);
  w.resize(std::size_t(n - 1));
  return w;
}

}  // namespace

TEST(Resources, TheProgramHasItsIconAtEverySizeAndItsVersion) {
  const std::wstring exe = Wide(VELKOR_SPLIT);
  HMODULE module = LoadLibraryExW(exe.c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(module, nullptr) << GetLastError();
  HRSRC group = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
  ASSERT_NE(group, nullptr);
  auto* directory = static_cast<BYTE*>(LockResource(LoadResource(module, group)));
  ASSERT_NE(directory, nullptr);
  for (int size : {16, 32, 48, 256}) {
    // The image Windows picks for this size decodes to an icon.
    const int id = LookupIconIdFromDirectoryEx(directory, TRUE, size, size, LR_DEFAULTCOLOR);
    ASSERT_NE(id, 0) << size;
    HRSRC image = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(3));  // RT_ICON
    ASSERT_NE(image, nullptr) << size;
    auto* bits = static_cast<BYTE*>(LockResource(LoadResource(module, image)));
    HICON icon = CreateIconFromResourceEx(bits, SizeofResource(module, image), TRUE, 0x00030000,
                                          size, size, LR_DEFAULTCOLOR);
    EXPECT_NE(icon, nullptr) << size;
    if (icon != nullptr) DestroyIcon(icon);
  }
  FreeLibrary(module);

  DWORD ignored = 0;
  const DWORD length = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
  ASSERT_GT(length, 0u);
  std::vector<BYTE> info(length);
  ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, length, info.data()));
  wchar_t* value = nullptr;
  UINT size = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\040904B0\\ProductVersion",
                             reinterpret_cast<void**>(&value), &size));
  EXPECT_EQ(std::wstring(value), Wide(VELKOR_VERSION));
}
