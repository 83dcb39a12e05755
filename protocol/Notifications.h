#pragma once
// The messages results travel in from the reader thread to the windows, and
// the captions the windows are found by, anew for every post.
#include <cstdint>
#include <string_view>

#include "platform/Operator.h"

namespace varnel {

constexpr std::uint32_t WM_USER = 0x0400;
constexpr std::uint32_t WM_FW_PROGRESS = WM_USER + 100;       // to CProgressDlg
constexpr std::uint32_t WM_DEVICE_INFO = WM_USER + 101;       // to CVarnelDlg
constexpr std::uint32_t WM_SETTINGS_REFRESH = WM_USER + 102;  // to CVarnelDlg
constexpr std::uint32_t WM_CARD_NUMBER = WM_USER + 103;       // to CVarnelDlg

// What a WM_FW_PROGRESS says, carried as its wParam (lParam: the chunk count
// with PROGRESS_TOTAL, the sensor's status with PROGRESS_FAILED, else 0). The
// values are fixed: they travel in the notification.
enum ProgressStep : std::uint32_t {
  PROGRESS_TOTAL = 0,
  PROGRESS_STEP = 1,
  PROGRESS_DONE = 2,
  PROGRESS_FAILED = 3,     // the sensor refused the image at its end
  PROGRESS_NO_ANSWER = 4,  // the sensor did not answer a step after the last chunk in time
};

// WM_DEVICE_INFO wParam: what happens to the device-information box.
enum class DeviceInfoOp : std::uint32_t {
  Append = 0,            // the notification's text is added as a line
  Clear = 0xFFFFFFFFu,   // the box is emptied
};
// WM_SETTINGS_REFRESH lParam: whether the main dialog shows the settings again.
enum class SettingsRefresh : std::uint32_t {
  Keep = 0,
  Redisplay = 0xFFFFFFFFu,  // the dialog treats any non-zero value this way
};
constexpr std::uint32_t ToParam(DeviceInfoOp op) { return static_cast<std::uint32_t>(op); }
constexpr std::uint32_t ToParam(SettingsRefresh refresh) { return static_cast<std::uint32_t>(refresh); }

// The windows' captions: posts are addressed by them and the dialogs carry them.
inline constexpr std::string_view kMainDialogCaption = "Varnel";
inline constexpr std::string_view kProgressDialogCaption = "固件下载进度";

}  // namespace varnel
