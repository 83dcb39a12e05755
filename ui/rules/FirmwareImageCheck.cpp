#include "ui/rules/FirmwareImageCheck.h"

#include <filesystem>
#include <system_error>

#include "protocol/FirmwareTransfer.h"
#include "ui/rules/DisplayText.h"

namespace varnel {
namespace {

std::string RefusalText(FirmwareLoadResult result) {
  switch (result) {
    case FirmwareLoadResult::Ok: break;
    case FirmwareLoadResult::IsDirectory: return "所选路径是文件夹，不是MCU固件文件";
    case FirmwareLoadResult::CannotOpen: return "无法打开MCU固件文件";
    case FirmwareLoadResult::CannotRead: return "无法读取MCU固件文件";
    case FirmwareLoadResult::Empty: return "MCU固件文件为空";
    case FirmwareLoadResult::TooLarge:
      return "MCU固件文件过大，最大为" + std::to_string(std::uint64_t{kMaxOtaChunks} * OTA_CHUNK_SIZE) + "字节";
  }
  return {};
}

}  // namespace

FirmwareImageCheck CheckFirmwareImage(std::string_view path) {
  namespace fs = std::filesystem;
  FirmwareImageCheck check;
  if (!LooksLikeFirmwarePath(path)) {
    check.refusal = "不是有效的MCU固件";
    return check;
  }
  // UTF-8 on every platform.
  const fs::path file(std::u8string(path.begin(), path.end()));
  std::error_code error;
  if (fs::status(file, error).type() == fs::file_type::not_found) {
    check.refusal = "MCU固件不存在";
    return check;
  }
  // Read whole now: a folder, an unreadable, empty or oversized file is refused
  // while nothing has been sent.
  if (const FirmwareLoadResult loaded = LoadFirmwareImage(file, check.image); loaded != FirmwareLoadResult::Ok)
    check.refusal = RefusalText(loaded);
  return check;
}

std::string FirmwareStartRefusal(FirmwareLoadResult result) { return RefusalText(result); }

}  // namespace varnel
