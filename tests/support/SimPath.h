#pragma once
// The name the simulated sensor knows a file of this test by. The simulator is
// a Linux program, also when the test program runs under wine: there a path of
// the test's (C:\..., Z:\...) is turned into the Linux path wine keeps it at.
#include <filesystem>
#include <string>

#ifdef _WIN32
#include "platform/Win32.h"
#endif

namespace varnel::test {

// "" when the path has no Linux name.
inline std::string SimSidePath(const std::filesystem::path& path) {
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
