#include "ui/VarnelDlg.h"

#include <chrono>
#include <thread>

#include "platform/CodePage.h"
#include "ui/ConnectDlg.h"
#include "ui/DialogTemplates.h"
#include "ui/rules/SettingCodes.h"

namespace varnel {
namespace {

constexpr int kDeviceInfoMaxLines = 200;

}  // namespace

void CVarnelDlg::ShowMissing(const char* text) {
  services_.op.ShowMessage(text, {}, MessageButtons::Ok, MessageOwner::MainWindow);
}

void CVarnelDlg::Warn(const std::string& text) {
  services_.op.ShowMessage(text, "警告", MessageButtons::Ok, MessageOwner::MainWindow);
}

bool CVarnelDlg::Confirmed(const char* question) {
  return services_.op.ShowMessage(question, "警告", MessageButtons::YesNo, MessageOwner::MainWindow) == MessageAnswer::Yes;
}

CVarnelDlg::CVarnelDlg(AppServices& services) : CVarnelDlg(services, MainDialogTemplate()) {}

CVarnelDlg::CVarnelDlg(AppServices& services, const DialogTemplate& dialogTemplate)
    : Dialog(dialogTemplate, nullptr, &services.windows), services_(services) {
  RegisterNotificationHandlers();
  RegisterCardSearchHandlers();
  RegisterSettingsHandlers();
  RegisterFirmwareHandlers();
  RegisterRegistrationHandlers();
}

void CVarnelDlg::RegisterNotificationHandlers() {
  OnMessage(WM_DEVICE_INFO, [this](Notification& n) { OnDeviceInfo(n.wParam, std::move(n.text)); });
  OnMessage(WM_SETTINGS_REFRESH, [this](Notification& n) { OnSettingsRefresh(n.lParam); });
  OnMessage(WM_CARD_NUMBER, [this](Notification& n) { OnCardNumber(n.wParam, n.lParam); });
}

void CVarnelDlg::OnInitDialog() {
  CConnectDlg connect(services_);
  const int result = connect.RunModal();
  if (result == kIdOk) {
    connected_ = true;
    FillSettingLists();
    ShowSettings();
    SetTimer(TIMER_LINK_START, 100);
  } else if (result == kIdCancel) {
    EndDialog(kIdCancel);
  }
  // Production registration is reached only on purpose: its button stays hidden.
  if (DialogControl* reg = Control(main_ids::ProductionRegister)) reg->Show(false);
}

bool CVarnelDlg::SettingControlsPresent() {
  for (int id : {main_ids::EditSerialNodeAddr, main_ids::ComSerialBaud, main_ids::EditCanNodeAddr,
                 main_ids::ComCanFrameType, main_ids::ComCanRate, main_ids::ComSetOutMode}) {
    if (!Control(id)) {
      ShowMissing(missing_texts::SettingsCombo);
      return false;
    }
  }
  return true;
}

void CVarnelDlg::FillSettingLists() {
  if (!SettingControlsPresent()) return;
  auto fill = [this](int id, const SettingList& list) {
    int index = 0;
    for (const ListEntry& entry : list.entries) Control(id)->InsertItem(index++, entry.text);
  };
  fill(main_ids::ComSerialBaud, kSerialBaudList);
  fill(main_ids::ComCanFrameType, kCanFrameTypeList);
  fill(main_ids::ComCanRate, kCanRateList);
  fill(main_ids::ComSetOutMode, kOutputModeList);
}

void CVarnelDlg::ShowSettings() {
  if (!SettingControlsPresent()) return;
  const SensorSettings& s = services_.session.Settings();
  const CanIdDisplay can = FormatCanNodeId(s.canNodeId.load(), s.canFrameType.load());
  DialogControl* canEdit = Control(main_ids::EditCanNodeAddr);
  canEdit->SetText(can.text);
  if (can.charLimit) canEdit->SetLimitText(can.charLimit);
  Control(main_ids::EditSerialNodeAddr)->SetText(FormatSerialNodeAddress(s.serialNodeAddress.load()));
  Control(main_ids::ComSerialBaud)->Select(IndexForCode(kSerialBaudList, s.serialBaudCode.load()));
  Control(main_ids::ComCanFrameType)->Select(IndexForCode(kCanFrameTypeList, s.canFrameType.load()));
  Control(main_ids::ComCanRate)->Select(IndexForCode(kCanRateList, s.canRateCode.load()));
  Control(main_ids::ComSetOutMode)->Select(IndexForCode(kOutputModeList, s.outputModeCode.load()));
}

void CVarnelDlg::OnSettingsRefresh(std::uint32_t lParam) {
  if (lParam != 0) ShowSettings();
}

void CVarnelDlg::OnDeviceInfo(std::uint32_t wParam, std::optional<std::string> gbkText) {
  // The text belongs to this handler from here on; it goes when the handler returns.
  DialogControl* box = Control(main_ids::EditDeviceInfo);
  if (!box) {
    ShowMissing(missing_texts::DeviceInfoBox);
    return;
  }
  if (wParam == ToParam(DeviceInfoOp::Append)) {
    if (!gbkText) return;
    const std::string text = CodePageToUtf8(*gbkText);
    if (box->LineCount() >= kDeviceInfoMaxLines) box->Clear();
    box->AppendText(text);
  } else if (wParam == ToParam(DeviceInfoOp::Clear)) {
    box->Clear();
  }
}

void CVarnelDlg::EndCardSearch() {
  cardSearchActive_ = false;
  services_.session.StopCardPoll();
  if (DialogControl* button = Control(main_ids::SearchCard)) button->SetText("开始寻卡");
}

void CVarnelDlg::OnTimer(int id) {
  if (id == TIMER_LINK_START) {
    KillTimer(TIMER_LINK_START);
    services_.session.StartLink();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    SetTimer(TIMER_LINK_WATCH, 1000);
  } else if (id == TIMER_LINK_WATCH) {
    OnLinkWatchTick();
  }
}

void CVarnelDlg::OnLinkWatchTick() {
  DeviceSession& session = services_.session;
  switch (linkWatch_.Tick(session.KeepAliveAnswered(), session.TakeReceptionHeld())) {
    case LinkWatchAction::ReportSilent:
      EndCardSearch();
      if (DialogControl* box = Control(main_ids::EditDeviceInfo))
        box->Clear();
      else
        ShowMissing(missing_texts::DeviceInfoBox);
      OnDeviceInfo(ToParam(DeviceInfoOp::Append), std::string(kDisconnectedText));
      break;
    case LinkWatchAction::RequeryIdentity:
      session.SendIdentityQuery();
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      break;
    case LinkWatchAction::None:
      break;
  }
  // Cleared before the next keep-alive goes out, so its reply is never lost.
  session.TakeKeepAliveAnswered();
  session.SendKeepAlive();
}

}  // namespace varnel
