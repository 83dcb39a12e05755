#pragma once
// The main window: device information, card search, sensor settings, firmware
// download and (hidden) production registration. Its initialisation runs the
// connect dialog; once a port is open it starts the link and watches it with a
// keep-alive once a second.
//
// The handlers of each group live in their own file: VarnelDlg.cpp (start-up,
// notifications, link watch), VarnelDlgCardSearch.cpp, VarnelDlgSettings.cpp,
// VarnelDlgFirmware.cpp, VarnelDlgRegistration.cpp.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "ui/AppServices.h"
#include "ui/framework/Dialog.h"
#include "ui/rules/LinkWatch.h"

namespace varnel {

inline constexpr int TIMER_LINK_START = 0x1001;
inline constexpr int TIMER_LINK_WATCH = 0x1002;

inline constexpr char kDisconnectedText[] = "Device disconnected\r\nPlease try to reset the device.\r\n";

class CProgressDlg;  // the firmware download's progress window (ProgressDlg.h)

class CVarnelDlg : public Dialog {
 public:
  explicit CVarnelDlg(AppServices& services, const DialogTemplate& dialogTemplate);
  explicit CVarnelDlg(AppServices& services);

  // Lists and settings display.
  void FillSettingLists();
  void ShowSettings();

  // Notification handlers.
  void OnDeviceInfo(std::uint32_t wParam, std::optional<std::string> gbkText);
  void OnSettingsRefresh(std::uint32_t lParam);
  void OnCardNumber(std::uint32_t status, std::uint32_t number);

  // Card search (VarnelDlgCardSearch.cpp).
  void OnSearchCard();
  bool CardSearchActive() const { return cardSearchActive_; }
  // The stop branch of the card-search button; also used when the sensor falls silent.
  void EndCardSearch();

  // Settings commands (VarnelDlgSettings.cpp).
  void OnSetSerialNodeAddr();
  void OnSetSerialBaud();
  void OnSetCanNodeAddr();
  void OnCanFrameTypeChange();
  void OnSetCanRate();
  void OnSetOutputMode();
  void OnRestartSensor();
  void OnSaveConfig();
  void OnFactoryReset();
  std::uint32_t EnteredCanId() const { return enteredCanId_; }
  std::uint8_t EnteredFrameType() const { return enteredFrameType_; }

  // Firmware download (VarnelDlgFirmware.cpp).
  void OnDownloadFirmware();
  // Called with each progress window before its modal run (tests, benchmarks).
  void SetProgressDialogHook(std::function<void(CProgressDlg&)> hook) { progressDialogHook_ = std::move(hook); }

  // Production registration (VarnelDlgRegistration.cpp).
  void OnProductionRegister();

  const LinkWatch& Watch() const { return linkWatch_; }
  // Whether the connect dialog ended with a port open.
  bool Connected() const { return connected_; }

 protected:
  void OnInitDialog() override;
  void OnTimer(int id) override;

 private:
  void RegisterNotificationHandlers();
  void RegisterCardSearchHandlers();
  void RegisterSettingsHandlers();
  void RegisterFirmwareHandlers();
  void RegisterRegistrationHandlers();
  void OnLinkWatchTick();
  // Shows the message for a missing settings control; answers whether all six exist.
  bool SettingControlsPresent();
  // Boxes over this window (VarnelDlg.cpp).
  // A control a handler needs is missing from the template: the box carries
  // the application's name, and the handler skips its step.
  void ShowMissing(const char* text);
  void Warn(const std::string& text);     // refused input, caption "警告"
  bool Confirmed(const char* question);   // Yes/No, caption "警告"

  AppServices& services_;       // outlives the dialog
  LinkWatch linkWatch_;         // UI thread only
  bool connected_ = false;      // UI thread only
  bool cardSearchActive_ = false;  // UI thread only
  std::uint32_t enteredCanId_ = 0;     // UI thread only: the last CAN address parsed
  std::uint8_t enteredFrameType_ = 0;  // UI thread only: the frame type read with it
  std::function<void(CProgressDlg&)> progressDialogHook_;  // UI thread only
};

}  // namespace varnel
