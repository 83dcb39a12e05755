#pragma once
// Texts the dialogs show that follow fixed rules.
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace varnel {

// The card box: "无卡" for status 0, the number as signed decimal for status 1
// with a nonzero number; nothing (box unchanged) otherwise.
std::optional<std::string> CardNumberText(std::uint32_t status, std::uint32_t number);

// A firmware image path must contain "Rfid" and ".bin" (case-sensitive, folders included).
bool LooksLikeFirmwarePath(std::string_view path);

// "19-07-" for July 2019; years are counted from 2000 and kept to two digits' byte.
std::string SerialDatePrefix(const std::tm& local);
// "%02d-%02d-%s" of the year byte, the month and the operator's text.
std::string FormatSerialNumber(std::uint8_t yearByte, std::uint8_t month, std::string_view text);

// The registration refused because the ledger holds serial already.
std::string DuplicateSerialText(std::string_view serial);

// Progress counter "done/total".
std::string ProgressCounterText(int done, int total);

// "9.6 KB/s，剩余 00:12": the average rate since the start and the time left at that rate.
std::string TransferRateText(std::uint64_t bytesDone, std::uint64_t bytesTotal, double elapsedSeconds);
// "平均 9.6 KB/s，用时 00:07": the whole image sent, nothing left to wait for at that rate.
std::string TransferAverageText(std::uint64_t bytesTotal, double elapsedSeconds);
// The rate line while the sensor has not answered for a while: no figures to count down.
inline constexpr char kSensorNotAnsweredYet[] = "传感器尚未应答";

}  // namespace varnel
