// Code-page text on Windows: through UTF-16 with the system's conversions,
// code page 936 (GBK). A character GBK cannot hold becomes '?'.
#include "platform/Win32.h"

#include "platform/CodePage.h"

namespace varnel {
namespace {

constexpr UINT kGbkCodePage = 936;

std::wstring ToWide(UINT codePage, std::string_view in) {
  if (in.empty()) return {};
  const int n = MultiByteToWideChar(codePage, 0, in.data(), static_cast<int>(in.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(codePage, 0, in.data(), static_cast<int>(in.size()), wide.data(), n);
  return wide;
}

std::string FromWide(UINT codePage, const std::wstring& wide) {
  if (wide.empty()) return {};
  // CP_UTF8 refuses a default character; GBK takes '?'. The default character is read
  // as a string (a double-byte code page may take two bytes), so it must be terminated.
  static constexpr char kDefaultChar[] = "?";
  const char* fallback = codePage == CP_UTF8 ? nullptr : kDefaultChar;
  const int n = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                    fallback, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, fallback,
                      nullptr);
  return out;
}

// Code page 936 holds no character outside the Basic Multilingual Plane. The system
// would turn each half of a surrogate pair into its own '?'; one character gets one.
std::wstring OneUnitPerCharacter(std::wstring wide) {
  std::size_t out = 0;
  for (std::size_t i = 0; i < wide.size(); ++i, ++out) {
    const bool pair = wide[i] >= 0xD800 && wide[i] <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
                      wide[i + 1] <= 0xDFFF;
    wide[out] = pair ? L'?' : wide[i];
    if (pair) ++i;
  }
  wide.resize(out);
  return wide;
}

}  // namespace

std::string Utf8ToCodePage(std::string_view utf8) {
  return FromWide(kGbkCodePage, OneUnitPerCharacter(ToWide(CP_UTF8, utf8)));
}

std::string CodePageToUtf8(std::string_view gbk) { return FromWide(CP_UTF8, ToWide(kGbkCodePage, gbk)); }

}  // namespace varnel
