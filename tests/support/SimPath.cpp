#include "tests/support/SimPath.h"

#ifdef _WIN32
#include "platform/Win32.h"
#endif

namespace varnel::test {

std::string SimSidePath(const std::filesystem::path& path) {
#ifdef _WIN32
  using ToUnixName = char*(WINAPI*)(const wchar_t*);
  const auto toUnixName = reinterpret_cast<ToUnixName>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (toUnixName == nullptr) return "";  // not under wine: there is no Linux side
  std::error_code error;
  const std::wstring whole = std::filesystem::absolute(path, error).wstring();
  if (error) return "";
  char* name = toUnixName(whole.c_str());  // the file itself need not exist yet
  if (name == nullptr) return "";
  std::string result(name);
  ::HeapFree(::GetProcessHeap(), 0, name);
  return result;
#else
  return path.string();
#endif
}

}  // namespace varnel::test
