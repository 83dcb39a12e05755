#include "link/TrafficDump.h"

namespace varnel {
namespace {

bool Printable(std::uint8_t b) { return b >= 0x20 && b <= 0x7E; }

void AppendHex(std::string& out, std::uint8_t b) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  out.push_back(kDigits[b >> 4]);
  out.push_back(kDigits[b & 0x0F]);
  out.push_back(' ');
}

}  // namespace

std::string FormatTraffic(const std::uint8_t* bytes, int count, const char* label) {
  std::string out;
  out.reserve(128 + (count > 0 ? static_cast<std::size_t>(count) * 5 : 0));
  bool printable = count > 0;
  for (int i = 0; i < count && printable; ++i) printable = Printable(bytes[i]);

  out += "------------------------------------\r\n";
  if (label) {
    out += "[Desc ] ";
    out += label;
    out += "\r\n";
  }
  if (printable) {
    out += "[ASCII]\r\n";
    out.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(count));
    out += "\r\n";
  }
  out += "[HEX-8] (len: ";
  out += std::to_string(count);
  out += ")\r\n";
  for (int row = 0; row < count; row += 8) {
    for (int i = row; i < row + 8; ++i) {
      if (i < count)
        AppendHex(out, bytes[i]);
      else
        out += "   ";
    }
    out += "   ";
    for (int i = row; i < row + 8 && i < count; ++i)
      out.push_back(Printable(bytes[i]) ? static_cast<char>(bytes[i]) : '.');
    out += "\r\n";
  }
  return out;
}

void DumpTraffic(TrafficLog* log, const std::uint8_t* bytes, int count, const char* label) {
  if (log) log->Write(FormatTraffic(bytes, count, label));
}

}  // namespace varnel
