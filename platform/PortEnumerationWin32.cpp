// The serial ports Windows reports: the value data of HKLM\HARDWARE\DEVICEMAP\SERIALCOMM
// (the device names, COM3 and the like), in the order the registry enumerates them.
#include "platform/Win32.h"

#include <algorithm>
#include <cwchar>

#include "platform/PortEnumeration.h"

namespace varnel {
namespace {

// Room the connect dialog gives each read: a value name of 50 characters and value
// data of 50 bytes (24 characters and the terminator).
constexpr DWORD kNameChars = 50;
constexpr DWORD kDataBytes = 50;
constexpr std::size_t kDataChars = kDataBytes / sizeof(wchar_t);

std::string Narrow(const wchar_t* text, std::size_t count) {
  if (count == 0) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(count), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(count), out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace

std::vector<std::string> EnumerateRegistryValues(const RegistryValueReader& readValue) {
  std::vector<std::string> ports;
  for (DWORD index = 0; ports.size() < kMaxListedPorts; ++index) {
    wchar_t data[kDataChars + 1] = {};  // one more than offered: the text always ends
    DWORD dataBytes = kDataBytes;
    const LONG status = readValue(index, data, &dataBytes);
    // A name or device name too long for the buffers is left out: the dialog could
    // only show it cut short, and a cut name opens nothing or the wrong device.
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS) break;  // normally ERROR_NO_MORE_ITEMS
    // The stored text need not carry its terminator: take what the read reported.
    const std::size_t units = std::min<std::size_t>(dataBytes / sizeof(wchar_t), kDataChars);
    ports.push_back(Narrow(data, wcsnlen(data, units)));
  }
  return ports;
}

std::vector<std::string> EnumerateSerialPorts(const std::string&) {
  HKEY key = nullptr;
  // No key (no serial port was ever seen): an empty list, and nothing to tell the operator.
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
    return {};
  std::vector<std::string> ports = EnumerateRegistryValues([key](DWORD index, wchar_t* data, DWORD* dataBytes) {
    wchar_t name[kNameChars];
    DWORD nameChars = kNameChars;
    DWORD type = 0;
    return RegEnumValueW(key, index, name, &nameChars, nullptr, &type, reinterpret_cast<BYTE*>(data), dataBytes);
  });
  RegCloseKey(key);
  return ports;
}

std::vector<std::string> EnumerateSerialPortsIn(const std::string&, const std::string&,
                                                const std::string& publishedPortsDir) {
  return EnumerateSerialPorts(publishedPortsDir);
}

}  // namespace varnel
