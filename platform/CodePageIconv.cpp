#include <iconv.h>

#include <cerrno>

#include "platform/CodePage.h"

namespace varnel {
namespace {

// Converts with iconv; an input sequence the target cannot hold becomes one '?'
// and conversion goes on after it, as the system's code-page conversion does.
std::string Convert(const char* to, const char* from, std::string_view in, std::size_t skipOnError) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
  std::string out;
  out.resize(in.size() * 4 + 4);
  char* src = const_cast<char*>(in.data());
  std::size_t srcLeft = in.size();
  char* dst = out.data();
  std::size_t dstLeft = out.size();
  while (srcLeft > 0) {
    if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) {
      const std::size_t used = static_cast<std::size_t>(dst - out.data());
      out.resize(out.size() * 2);
      dst = out.data() + used;
      dstLeft = out.size() - used;
      continue;
    }
    // EILSEQ or EINVAL: replace what cannot be converted and go on.
    std::size_t skip = 1;
    if (errno == EILSEQ && skipOnError > 1) {
      // Skip one whole UTF-8 sequence rather than one byte of it.
      const auto lead = static_cast<unsigned char>(*src);
      skip = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    }
    if (skip > srcLeft) skip = srcLeft;
    src += skip;
    srcLeft -= skip;
    if (dstLeft == 0) {
      const std::size_t used = static_cast<std::size_t>(dst - out.data());
      out.resize(out.size() * 2);
      dst = out.data() + used;
      dstLeft = out.size() - used;
    }
    *dst++ = '?';
    --dstLeft;
  }
  out.resize(static_cast<std::size_t>(dst - out.data()));
  iconv_close(cd);
  return out;
}

}  // namespace

std::string Utf8ToCodePage(std::string_view utf8) { return Convert("GBK", "UTF-8", utf8, 4); }

std::string CodePageToUtf8(std::string_view gbk) { return Convert("UTF-8", "GBK", gbk, 1); }

}  // namespace varnel
