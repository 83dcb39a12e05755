#pragma once
// Results travel from the reader thread to the windows only as posted
// notifications, found anew for every post by the exact caption of a top-level
// window. The dialog layer implements the poster on Qt; tests record.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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

// WM_DEVICE_INFO wParam
constexpr std::uint32_t DEVICE_INFO_APPEND = 0;
constexpr std::uint32_t DEVICE_INFO_CLEAR = 0xFFFFFFFFu;

inline constexpr std::string_view kMainDialogCaption = "Varnel";
inline constexpr std::string_view kProgressDialogCaption = "固件下载进度";

struct Notification {
  std::uint32_t message = 0;
  std::uint32_t wParam = 0;
  std::uint32_t lParam = 0;
  // For WM_DEVICE_INFO appends: the GBK text the notification owns (absent = null).
  std::optional<std::string> text;
};

class NotificationPoster {
 public:
  virtual ~NotificationPoster() = default;
  // Posts to the top-level window whose caption is exactly windowCaption, to be
  // handled on its thread in posting order; never waits for it. Answers false,
  // dropping the notification and its text, when no such window exists.
  // Safe to call from any thread.
  virtual bool Post(std::string_view windowCaption, Notification notification) = 0;
  // Whether a top-level window with exactly this caption exists now. Any thread.
  virtual bool HasWindow(std::string_view windowCaption) = 0;
};

}  // namespace varnel
