#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

#include "platform/PortEnumeration.h"

namespace varnel {
namespace fs = std::filesystem;
namespace {

// ttyUSB2 before ttyUSB10.
bool NaturalLess(const std::string& a, const std::string& b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (std::isdigit(static_cast<unsigned char>(a[i])) && std::isdigit(static_cast<unsigned char>(b[j]))) {
      std::size_t ie = i, je = j;
      while (ie < a.size() && std::isdigit(static_cast<unsigned char>(a[ie]))) ++ie;
      while (je < b.size() && std::isdigit(static_cast<unsigned char>(b[je]))) ++je;
      const std::string na = a.substr(i, ie - i), nb = b.substr(j, je - j);
      if (na.size() != nb.size()) return na.size() < nb.size();
      if (na != nb) return na < nb;
      i = ie;
      j = je;
    } else {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

// An on-board UART that the kernel reserved but found no hardware for reports type 0.
bool UartExists(const fs::path& ttyEntry) {
  std::ifstream type(ttyEntry / "type");
  if (!type) return true;
  int value = 0;
  type >> value;
  return value != 0;
}

std::vector<std::string> SystemSerialDevices(const std::string& sysClassTty, const std::string& devDir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(sysClassTty, ec)) {
    const fs::path device = entry.path() / "device";
    if (!fs::exists(device, ec)) continue;  // virtual consoles and ptys have no device behind them
    if (!UartExists(entry.path())) continue;
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end(), NaturalLess);
  for (auto& n : names) n = (fs::path(devDir) / n).string();
  return names;
}

std::vector<std::string> PublishedPorts(const std::string& dir) {
  std::vector<std::string> names;
  if (dir.empty()) return names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    if (!entry.is_symlink(ec)) continue;
    if (!fs::exists(entry.path(), ec)) continue;  // left behind by a simulator that died
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end(), NaturalLess);
  for (auto& n : names) n = (fs::path(dir) / n).string();
  return names;
}

}  // namespace

std::vector<std::string> EnumerateSerialPortsIn(const std::string& sysClassTty, const std::string& devDir,
                                                const std::string& publishedPortsDir) {
  std::vector<std::string> ports = SystemSerialDevices(sysClassTty, devDir);
  for (auto& p : PublishedPorts(publishedPortsDir)) ports.push_back(std::move(p));
  if (ports.size() > kMaxListedPorts) ports.resize(kMaxListedPorts);
  return ports;
}

std::vector<std::string> EnumerateSerialPorts(const std::string& publishedPortsDir) {
  return EnumerateSerialPortsIn("/sys/class/tty", "/dev", publishedPortsDir);
}

}  // namespace varnel
