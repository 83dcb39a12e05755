#include "ui/rules/DisplayText.h"

#include <cmath>
#include <cstdio>

namespace varnel {

std::optional<std::string> CardNumberText(std::uint32_t status, std::uint32_t number) {
  if (status == 0) return std::string("无卡");
  if (status == 1 && number != 0) return std::to_string(static_cast<std::int32_t>(number));
  return std::nullopt;
}

bool LooksLikeFirmwarePath(std::string_view path) {
  return path.find("Rfid") != std::string_view::npos && path.find(".bin") != std::string_view::npos;
}

std::string SerialDatePrefix(const std::tm& local) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d-%02d-", static_cast<std::uint8_t>(local.tm_year + 1900 - 2000),
                local.tm_mon + 1);
  return text;
}

std::string FormatSerialNumber(std::uint8_t yearByte, std::uint8_t month, std::string_view text) {
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "%02d-%02d-", yearByte, month);
  return std::string(prefix) + std::string(text);
}

std::string ProgressCounterText(int done, int total) {
  return std::to_string(done) + "/" + std::to_string(total);
}

std::string TransferRateText(std::uint64_t bytesDone, std::uint64_t bytesTotal, double elapsedSeconds) {
  if (bytesDone == 0 || elapsedSeconds <= 0.0) return "-- KB/s，剩余 --:--";
  const double rate = static_cast<double>(bytesDone) / elapsedSeconds;  // bytes per second
  const std::uint64_t left = bytesTotal > bytesDone ? bytesTotal - bytesDone : 0;
  const auto seconds = static_cast<long long>(std::ceil(static_cast<double>(left) / rate));
  char text[64];
  std::snprintf(text, sizeof text, "%.1f KB/s，剩余 %02lld:%02lld", rate / 1024.0, seconds / 60, seconds % 60);
  return text;
}

std::string TransferAverageText(std::uint64_t bytesTotal, double elapsedSeconds) {
  if (elapsedSeconds <= 0.0) elapsedSeconds = 0.001;
  const auto seconds = static_cast<long long>(std::llround(elapsedSeconds));
  char text[64];
  std::snprintf(text, sizeof text, "平均 %.1f KB/s，用时 %02lld:%02lld",
                static_cast<double>(bytesTotal) / elapsedSeconds / 1024.0, seconds / 60, seconds % 60);
  return text;
}

std::string DuplicateSerialText(std::string_view serial) {
  return "\"" + std::string(serial) + "\"的记录已经存在";
}

}  // namespace varnel
