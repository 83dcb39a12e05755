#include "protocol/CommandSet.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace varnel {
namespace {

// The prefixes of the identity lines, GBK-encoded as the sensor's texts are.
constexpr std::string_view kFirmwarePrefixGbk = "\xB9\xCC\xBC\xFE\xB0\xE6\xB1\xBE";  // 固件版本
constexpr std::string_view kHardwarePrefixGbk = "\xD3\xB2\xBC\xFE\xB0\xE6\xB1\xBE";  // 硬件版本
constexpr std::string_view kDevicePrefixGbk = "\xC9\xE8\xB1\xB8";                    // 设备

constexpr std::size_t kMaxLine = kInfoLineBuffer - 1;  // room for the terminating zero
constexpr std::string_view kLineEnd = "\r\n";

void PutLe32(std::uint8_t* out, std::uint32_t value) {
  out[0] = static_cast<std::uint8_t>(value);
  out[1] = static_cast<std::uint8_t>(value >> 8);
  out[2] = static_cast<std::uint8_t>(value >> 16);
  out[3] = static_cast<std::uint8_t>(value >> 24);
}

std::uint32_t GetLe32(const std::uint8_t* in) {
  return static_cast<std::uint32_t>(in[0]) | static_cast<std::uint32_t>(in[1]) << 8 |
         static_cast<std::uint32_t>(in[2]) << 16 | static_cast<std::uint32_t>(in[3]) << 24;
}

// head, then as much of body as fits, then CR LF; never longer than the line buffer.
std::string JoinLine(std::string_view head, std::string_view body) {
  std::string line(head.substr(0, kMaxLine - kLineEnd.size()));
  const std::size_t room = kMaxLine - kLineEnd.size() - line.size();
  line.append(body.substr(0, room));
  line.append(kLineEnd);
  return line;
}

std::string VersionLine(std::string_view prefix, std::uint8_t major, std::uint8_t minor,
                        std::uint8_t patch) {
  char numbers[32];
  std::snprintf(numbers, sizeof numbers, " : V%d.%d.%d", major, minor, patch);
  std::string head(prefix);
  head += numbers;
  return JoinLine(head, {});
}

void PostToMainDialog(const Operator& op, Notification notification) {
  if (!op.poster.Post(kMainDialogCaption, std::move(notification))) {
    op.ShowMessage("找不到CVarnelDlg对象", "警告", MessageButtons::Ok, MessageOwner::None);
  }
}

void PostSettingsRefresh(const Operator& op) {
  PostToMainDialog(op, Notification{WM_SETTINGS_REFRESH, 0, ToParam(SettingsRefresh::Redisplay), std::nullopt});
}

LinkFrame OneByteRequest(std::uint8_t code, std::uint8_t value) { return MakeRequest(code, {value}); }

constexpr std::string_view kStatusTexts[] = {"设置成功", "无效指令", "内部错误", "校验失败"};

}  // namespace

std::optional<std::string_view> StatusReplyText(std::uint32_t status) {
  if (status >= std::size(kStatusTexts)) return std::nullopt;
  return kStatusTexts[status];
}

RegistrationRecord MakeRegistrationRecord(int year, int month, std::string_view codePageText) {
  RegistrationRecord record;
  record.year = static_cast<std::uint8_t>(year - 2000);
  record.month = static_cast<std::uint8_t>(month);
  const std::size_t count = std::min(codePageText.size(), sizeof record.text - 1);
  std::memcpy(record.text, codePageText.data(), count);
  return record;
}

LinkFrame MakeReadRequest(std::uint8_t command) { return MakeRequest(command); }
LinkFrame MakeKeepAliveRequest() { return OneByteRequest(CMD_KEEPALIVE, 0x01); }
LinkFrame MakeNodeAddressRequest(std::uint8_t address) {
  return OneByteRequest(CMD_WRITE | CMD_NODE_ADDRESS, address);
}
LinkFrame MakeSerialBaudRequest(std::uint8_t baudCode) {
  return OneByteRequest(CMD_WRITE | CMD_SERIAL_BAUD, baudCode);
}
LinkFrame MakeCanIdRequest(std::uint32_t canId, std::uint8_t frameType) {
  std::uint8_t payload[5];
  PutLe32(payload, canId);
  payload[4] = frameType;
  return MakeRequest(CMD_WRITE | CMD_CAN_ID, payload, sizeof payload);
}
LinkFrame MakeCanRateRequest(std::uint8_t rateCode) {
  return OneByteRequest(CMD_WRITE | CMD_CAN_RATE, rateCode);
}
LinkFrame MakeOutputModeRequest(std::uint8_t modeCode) {
  return OneByteRequest(CMD_WRITE | CMD_OUTPUT_MODE, modeCode);
}
LinkFrame MakeSaveConfigRequest() { return OneByteRequest(CMD_WRITE | CMD_SAVE_CONFIG, 0x01); }
LinkFrame MakeFactoryResetRequest() { return OneByteRequest(CMD_WRITE | CMD_FACTORY_RESET, 0x01); }
LinkFrame MakeRestartRequest() { return OneByteRequest(CMD_WRITE | CMD_RESTART, 0x01); }

LinkFrame MakeRegisterSnRequest(const RegistrationRecord& record) {
  std::uint8_t payload[4 + sizeof(RegistrationRecord)] = {0xFE, 0xFE, 0xFE, 0xFE};
  payload[4] = record.year;
  payload[5] = record.month;
  std::memcpy(payload + 6, record.text, sizeof record.text);
  return MakeRequest(CMD_WRITE | CMD_REGISTER_SN, payload, sizeof payload);
}

LinkFrame MakeOtaBeginRequest() { return OneByteRequest(CMD_WRITE | CMD_OTA_BEGIN, 0x00); }

LinkFrame MakeOtaFileInfoRequest(std::uint32_t imageSize, std::uint16_t imageCrc) {
  std::uint8_t payload[12];
  // A constant the sensor expects in front of every image description.
  PutLe32(payload, 0x00010000u);
  PutLe32(payload + 4, imageSize);
  PutLe32(payload + 8, imageCrc);
  return MakeRequest(CMD_WRITE | CMD_OTA_FILE_INFO, payload, sizeof payload);
}

LinkFrame MakeOtaChunkRequest(std::uint32_t offset, const std::uint8_t* bytes, std::uint32_t count) {
  LinkFrame frame = MakeRequest(CMD_WRITE | CMD_OTA_FILE_CHUNK);
  count = std::min<std::uint32_t>(count, kLinkMaxPayload - 8);
  PutLe32(frame.payload, offset);
  PutLe32(frame.payload + 4, count);
  if (count) std::memcpy(frame.payload + 8, bytes, count);
  frame.length = static_cast<std::uint16_t>(8 + count);
  return frame;
}

LinkFrame MakeOtaEndRequest() { return OneByteRequest(CMD_WRITE | CMD_OTA_END, 0x00); }
LinkFrame MakeOtaFinishRequest() { return OneByteRequest(CMD_WRITE | CMD_OTA_FINISH, 0x00); }

std::string FormatFirmwareVersionLine(std::uint8_t major, std::uint8_t minor, std::uint8_t patch) {
  return VersionLine(kFirmwarePrefixGbk, major, minor, patch);
}

std::string FormatHardwareVersionLine(std::uint8_t major, std::uint8_t minor, std::uint8_t patch) {
  return VersionLine(kHardwarePrefixGbk, major, minor, patch);
}

std::string FormatSerialNumberLine(std::uint8_t year, std::uint8_t month, std::string_view serial) {
  char date[32];
  std::snprintf(date, sizeof date, " S/N : %02d-%02d-", year, month);
  std::string head(kDevicePrefixGbk);
  head += date;
  // A long serial text is cut so the line keeps its CR LF inside the buffer.
  return JoinLine(head, serial);
}

void PostDeviceInfoText(const Operator& op, std::string_view text) {
  // The notification owns its copy; a failed post drops it with the notification.
  PostToMainDialog(op, Notification{WM_DEVICE_INFO, ToParam(DeviceInfoOp::Append), 0, std::string(text)});
}

void OnFirmwareVersionReply(ReplyTargets targets, const std::uint8_t* payload, std::size_t length) {
  if (length < 4) return;  // byte 0 is not read; 1..3 are the version
  // A new identity chain starts from an empty box.
  PostToMainDialog(targets.op, Notification{WM_DEVICE_INFO, ToParam(DeviceInfoOp::Clear), 0, std::nullopt});
  PostDeviceInfoText(targets.op, FormatFirmwareVersionLine(payload[1], payload[2], payload[3]));
}

void OnHardwareVersionReply(ReplyTargets targets, const std::uint8_t* payload, std::size_t length) {
  if (length < 4) return;
  PostDeviceInfoText(targets.op, FormatHardwareVersionLine(payload[1], payload[2], payload[3]));
}

void OnSerialNumberReply(ReplyTargets targets, const std::uint8_t* payload, std::size_t length) {
  if (length < 2) return;
  // The text ends at its zero, or at the payload's end when the sensor sent none.
  const auto* text = reinterpret_cast<const char*>(payload + 2);
  const std::size_t room = length - 2;
  const auto* zero = static_cast<const char*>(std::memchr(text, 0, room));
  const std::size_t textLength = zero ? static_cast<std::size_t>(zero - text) : room;
  PostDeviceInfoText(targets.op,
                     FormatSerialNumberLine(payload[0], payload[1], std::string_view(text, textLength)));
}

namespace {

// The one-byte settings replies: store byte 0 in its field, then tell the window.
void StoreSettingByte(ReplyTargets targets, std::atomic<std::uint8_t>& field, const std::uint8_t* payload,
                      std::size_t length) {
  if (length < 1) return;
  field.store(payload[0]);
  PostSettingsRefresh(targets.op);
}

}  // namespace

void OnNodeAddressReply(ReplyTargets targets, const std::uint8_t* payload, std::size_t length) {
  StoreSettingByte(targets, targets.settings.serialNodeAddress, payload, length);
}

void OnSerialBaudReply(ReplyTargets targets, const std::uint8_t* payload, std::size_t length) {
  StoreSettingByte(targets, targets.settings.serialBaudCode, payload, length);
}

void OnCanIdReply(ReplyTargets targets, const std::uint8_t* payload, std::size_t length) {
  if (length < 5) return;
  targets.settings.canNodeId.store(GetLe32(payload));
  targets.settings.canFrameType.store(payload[4]);
  PostSettingsRefresh(targets.op);
}

void OnCanRateReply(ReplyTargets targets, const std::uint8_t* payload, std::size_t length) {
  StoreSettingByte(targets, targets.settings.canRateCode, payload, length);
}

void OnCardReply(ReplyTargets targets, const std::uint8_t* payload, std::size_t length) {
  if (length < 5) return;
  PostToMainDialog(targets.op, Notification{WM_CARD_NUMBER, payload[0], GetLe32(payload + 1), std::nullopt});
}

}  // namespace varnel
