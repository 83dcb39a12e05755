#pragma once
// The sensor's texts and the ledger are 8-bit GBK text; the operator interface is UTF-8/UTF-16.
// Characters GBK cannot represent become '?', as the system code page conversion does.
#include <string>
#include <string_view>

namespace varnel {

std::string Utf8ToCodePage(std::string_view utf8);
std::string CodePageToUtf8(std::string_view gbk);

}  // namespace varnel
