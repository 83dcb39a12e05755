#pragma once
// The sensor's vocabulary: command codes, every request the tool sends, and the
// handlers that decode read replies into SensorSettings and notifications.
//
// Bits 0..6 of the command byte name the command; bit 7 (CMD_WRITE) marks a
// write request and the sensor's status reply to it.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "link/LinkFrame.h"
#include "protocol/Notifications.h"
#include "protocol/SensorSettings.h"

namespace varnel {

constexpr std::uint8_t CMD_WRITE = 0x80;

constexpr std::uint8_t CMD_FIRMWARE_VERSION = 0x01;  // also the identity query
constexpr std::uint8_t CMD_HARDWARE_VERSION = 0x02;
constexpr std::uint8_t CMD_SERIAL_NUMBER = 0x03;
constexpr std::uint8_t CMD_NODE_ADDRESS = 0x10;
constexpr std::uint8_t CMD_SERIAL_BAUD = 0x11;
constexpr std::uint8_t CMD_CAN_ID = 0x12;
constexpr std::uint8_t CMD_CAN_RATE = 0x13;
constexpr std::uint8_t CMD_OUTPUT_MODE = 0x20;
constexpr std::uint8_t CMD_SAVE_CONFIG = 0x21;
constexpr std::uint8_t CMD_FACTORY_RESET = 0x22;
constexpr std::uint8_t CMD_RESTART = 0x23;
constexpr std::uint8_t CMD_CARD_READ = 0x30;
constexpr std::uint8_t CMD_REGISTER_SN = 0x6F;
constexpr std::uint8_t CMD_OTA_BEGIN = 0x70;
constexpr std::uint8_t CMD_OTA_FILE_INFO = 0x71;
constexpr std::uint8_t CMD_OTA_FILE_CHUNK = 0x72;
constexpr std::uint8_t CMD_OTA_END = 0x73;
constexpr std::uint8_t CMD_OTA_FINISH = 0x74;
constexpr std::uint8_t CMD_KEEPALIVE = 0x7F;

constexpr std::uint8_t CommandOf(std::uint8_t code) { return code & 0x7F; }
constexpr bool IsWriteCode(std::uint8_t code) { return (code & CMD_WRITE) != 0; }

// The production serial number written into the sensor: 34 bytes on the wire.
struct RegistrationRecord {
  std::uint8_t year = 0;    // year - 2000, low 8 bits
  std::uint8_t month = 0;   // 1..12
  char text[32] = {};       // 8-bit code-page text, zero-terminated and zero-filled
};
static_assert(sizeof(RegistrationRecord) == 34, "RegistrationRecord is 34 bytes on the wire");

// Builds a record; text is already in the 8-bit code page. A text of more than
// 31 bytes is cut so the field always keeps its terminating zero.
RegistrationRecord MakeRegistrationRecord(int year, int month, std::string_view codePageText);

// --- Requests --------------------------------------------------------------
// Each answers a filled LinkFrame ready for FrameSender::SendData.

// A read query with an empty payload (0x01, 0x02, 0x03, 0x10..0x13, 0x30).
LinkFrame MakeReadRequest(std::uint8_t command);
LinkFrame MakeKeepAliveRequest();                               // 0x7F 01
LinkFrame MakeNodeAddressRequest(std::uint8_t address);         // 0x90
LinkFrame MakeSerialBaudRequest(std::uint8_t baudCode);         // 0x91
LinkFrame MakeCanIdRequest(std::uint32_t canId, std::uint8_t frameType);  // 0x92
LinkFrame MakeCanRateRequest(std::uint8_t rateCode);            // 0x93
LinkFrame MakeOutputModeRequest(std::uint8_t modeCode);         // 0xA0
LinkFrame MakeSaveConfigRequest();                              // 0xA1 01
LinkFrame MakeFactoryResetRequest();                            // 0xA2 01
LinkFrame MakeRestartRequest();                                 // 0xA3 01
LinkFrame MakeRegisterSnRequest(const RegistrationRecord& record);  // 0xEF FE FE FE FE + record
LinkFrame MakeOtaBeginRequest();                                // 0xF0 00
LinkFrame MakeOtaFileInfoRequest(std::uint32_t imageSize, std::uint16_t imageCrc);  // 0xF1
// 0xF2: offset, count, then count (at most 248) image bytes.
LinkFrame MakeOtaChunkRequest(std::uint32_t offset, const std::uint8_t* bytes, std::uint32_t count);
LinkFrame MakeOtaEndRequest();                                  // 0xF3 00
LinkFrame MakeOtaFinishRequest();                               // 0xF4 00

// --- Status replies ------------------------------------------------------------
// The operator's words for the status byte of a write reply: 0 success, 1
// invalid command, 2 internal error, 3 checksum failure. None for other values.
std::optional<std::string_view> StatusReplyText(std::uint32_t status);

// --- Identity lines ----------------------------------------------------------
// GBK text, at most 127 bytes (the 128-byte line buffer with its zero): a
// longer line is cut, never overrun.
constexpr std::size_t kInfoLineBuffer = 128;
std::string FormatFirmwareVersionLine(std::uint8_t major, std::uint8_t minor, std::uint8_t patch);
std::string FormatHardwareVersionLine(std::uint8_t major, std::uint8_t minor, std::uint8_t patch);
std::string FormatSerialNumberLine(std::uint8_t year, std::uint8_t month, std::string_view serial);

// --- Notifications -----------------------------------------------------------
// Posts a heap copy of text to the main dialog as a WM_DEVICE_INFO append. When
// the main dialog does not exist, shows "找不到CVarnelDlg对象" instead; the
// copy is released either way.
void PostDeviceInfoText(const Operator& op, std::string_view text);

// --- Reply handlers ------------------------------------------------------------
// Called on the reader thread with the reply's payload. A payload shorter than
// its layout is ignored: nothing is stored and nothing is posted.
struct ReplyTargets {
  SensorSettings& settings;
  const Operator& op;
};

void OnFirmwareVersionReply(ReplyTargets targets, const std::uint8_t* payload, std::size_t length);
void OnHardwareVersionReply(ReplyTargets targets, const std::uint8_t* payload, std::size_t length);
void OnSerialNumberReply(ReplyTargets targets, const std::uint8_t* payload, std::size_t length);
void OnNodeAddressReply(ReplyTargets targets, const std::uint8_t* payload, std::size_t length);
void OnSerialBaudReply(ReplyTargets targets, const std::uint8_t* payload, std::size_t length);
void OnCanIdReply(ReplyTargets targets, const std::uint8_t* payload, std::size_t length);
void OnCanRateReply(ReplyTargets targets, const std::uint8_t* payload, std::size_t length);
void OnCardReply(ReplyTargets targets, const std::uint8_t* payload, std::size_t length);

}  // namespace varnel
