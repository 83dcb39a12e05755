#pragma once
// "set" on the command line: which setting, its value and the frame type, read
// by the same rules as the settings group of the main window, into the request
// that group sends.
#include <cstdint>
#include <string>
#include <string_view>

#include "link/LinkFrame.h"

namespace varnel::cli {

struct SettingWrite {
  bool accepted = false;
  LinkFrame request{};
  std::string summary;  // what is set, e.g. "canid 0x5A0 std"
  std::string refusal;  // when not accepted: the dialog's own words where it has some
};

// setting: address, baud, canid, canrate or output. frame: std or ext (canid only).
SettingWrite ParseSettingWrite(std::string_view setting, std::string_view value, std::string_view frame);

}  // namespace varnel::cli
