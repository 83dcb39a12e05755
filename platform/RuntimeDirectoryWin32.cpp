#include "platform/RuntimeDirectory.h"
#include "platform/Win32.h"

namespace varnel {

std::string UserRuntimeDirectory(std::string* problem, std::string*) {
  wchar_t profile[MAX_PATH + 1];
  const DWORD length = GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) {
    if (problem) *problem = "the user's profile folder (USERPROFILE) is not known";
    return {};
  }
  const int n = WideCharToMultiByte(CP_UTF8, 0, profile, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, profile, static_cast<int>(length), utf8.data(), n, nullptr, nullptr);
  return utf8;
}

}  // namespace varnel
