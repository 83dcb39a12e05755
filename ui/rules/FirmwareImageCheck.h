#pragma once
// The checks an image file passes before anything is sent to the sensor: its
// name, its existence, and that it reads whole within the transfer's limits.
// The download button and the command line refuse with the same words.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace varnel {

struct FirmwareImageCheck {
  std::vector<std::uint8_t> image;  // the whole file when accepted, empty otherwise
  std::string refusal;              // shown with the caption "警告"; empty when accepted
  bool Accepted() const { return refusal.empty(); }
};

enum class FirmwareLoadResult;

// path: UTF-8, as the operator gave it.
FirmwareImageCheck CheckFirmwareImage(std::string_view path);
// The words for a transfer that refused to start with an image in memory.
std::string FirmwareStartRefusal(FirmwareLoadResult result);

}  // namespace varnel
