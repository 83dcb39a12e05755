#include <windows.h>

#include "platform/PortEnumeration.h"

namespace varnel {
namespace {

std::string Narrow(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string out(static_cast<std::size_t>(size - 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  return out;
}

}  // namespace

std::vector<std::string> EnumerateSerialPorts(const std::string&) {
  std::vector<std::string> ports;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
    return ports;
  for (DWORD index = 0; ports.size() < kMaxListedPorts; ++index) {
    wchar_t name[50] = {};
    DWORD nameLength = 50;
    wchar_t data[25] = {};
    DWORD dataBytes = sizeof(data) - sizeof(wchar_t);  // keep room for the terminator
    DWORD type = 0;
    const LONG status = RegEnumValueW(key, index, name, &nameLength, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data), &dataBytes);
    if (status == ERROR_MORE_DATA) continue;  // a name too long for the dialog's buffers is skipped
    if (status != ERROR_SUCCESS) break;
    ports.push_back(Narrow(data));
  }
  RegCloseKey(key);
  return ports;
}

std::vector<std::string> EnumerateSerialPortsIn(const std::string&, const std::string&,
                                                const std::string& publishedPortsDir) {
  return EnumerateSerialPorts(publishedPortsDir);
}

}  // namespace varnel
