// The "传感器设置" group: each button reads one control, checks it and sends one
// write request. Nothing here waits for the sensor: its status reply comes back
// through the reader thread, which shows "设置成功" or the failure.
#include "ui/DialogTemplates.h"
#include "ui/VarnelDlg.h"
#include "ui/rules/AddressInput.h"
#include "ui/rules/SettingCodes.h"

namespace varnel {
namespace {


}  // namespace

void CVarnelDlg::RegisterSettingsHandlers() {
  On(main_ids::SetSerialNodeAddr, Notify::Clicked, [this] { OnSetSerialNodeAddr(); });
  On(main_ids::SetSerialBaud, Notify::Clicked, [this] { OnSetSerialBaud(); });
  On(main_ids::SetCanNodeAddr, Notify::Clicked, [this] { OnSetCanNodeAddr(); });
  // The operator's choice only: ShowSettings selecting an entry does not come here.
  On(main_ids::ComCanFrameType, Notify::SelectionChanged, [this] { OnCanFrameTypeChange(); });
  On(main_ids::SetCanRate, Notify::Clicked, [this] { OnSetCanRate(); });
  On(main_ids::SetOutputMode, Notify::Clicked, [this] { OnSetOutputMode(); });
  On(main_ids::RestartSensor, Notify::Clicked, [this] { OnRestartSensor(); });
  On(main_ids::SaveConfig, Notify::Clicked, [this] { OnSaveConfig(); });
  On(main_ids::FactoryReset, Notify::Clicked, [this] { OnFactoryReset(); });
}

void CVarnelDlg::OnSetSerialNodeAddr() {
  DialogControl* edit = Control(main_ids::EditSerialNodeAddr);
  if (!edit) {
    ShowMissing(missing_texts::SerialNodeAddrEdit);
    return;
  }
  const AddressVerdict verdict = CheckSerialNodeAddress(edit->Text());
  if (!verdict.accepted) {
    Warn(verdict.message);
    return;
  }
  // The settings record keeps the sensor's word: the edit is refreshed when the
  // sensor next reports its address.
  services_.session.SendNodeAddressRequest(static_cast<std::uint8_t>(verdict.value));
}

void CVarnelDlg::OnSetCanNodeAddr() {
  DialogControl* edit = Control(main_ids::EditCanNodeAddr);
  DialogControl* frameList = Control(main_ids::ComCanFrameType);
  if (!edit || !frameList) {
    ShowMissing(missing_texts::SettingsCombo);
    return;
  }
  // No selection (-1) is frame type 0xFF, which the rule refuses silently.
  const std::uint8_t frameType = CodeForSelection(kCanFrameTypeList, frameList->SelectedIndex());
  const AddressVerdict verdict = CheckCanNodeAddress(edit->Text(), frameType);
  if (verdict.format == HexStatus::MissingPrefix) {
    Warn(verdict.message);
    return;
  }
  enteredCanId_ = verdict.value;  // what was read, even when characters follow it
  if (verdict.format == HexStatus::Malformed) {
    Warn(verdict.message);
    return;
  }
  // Recorded before the range test: a refused address still leaves the chosen
  // frame type behind, and the next settings display follows it.
  enteredFrameType_ = frameType;
  services_.session.Settings().canFrameType.store(frameType);
  if (!verdict.accepted) {
    if (!verdict.message.empty()) Warn(verdict.message);
    return;
  }
  services_.session.Settings().canNodeId.store(verdict.value);
  services_.session.SendCanIdRequest(enteredCanId_, enteredFrameType_);
}

void CVarnelDlg::OnCanFrameTypeChange() {
  DialogControl* edit = Control(main_ids::EditCanNodeAddr);
  DialogControl* frameList = Control(main_ids::ComCanFrameType);
  if (!edit || !frameList) {
    ShowMissing(missing_texts::SettingsCombo);
    return;
  }
  const int index = frameList->SelectedIndex();
  if (index < 0 || static_cast<std::size_t>(index) >= kCanFrameTypeList.entries.size()) return;
  // Only the display follows the list; the stored frame type changes when the
  // CAN address's own button is pressed.
  const CanIdDisplay shown = FormatCanNodeId(services_.session.Settings().canNodeId.load(),
                                             CodeForSelection(kCanFrameTypeList, index));
  edit->SetText(shown.text);
  edit->SetLimitText(shown.charLimit);
  frameList->Select(index);
}

void CVarnelDlg::OnSetSerialBaud() {
  DialogControl* list = Control(main_ids::ComSerialBaud);
  if (!list) {
    ShowMissing(missing_texts::SettingsCombo);
    return;
  }
  const std::uint8_t code = CodeForSelection(kSerialBaudList, list->SelectedIndex());
  services_.session.Settings().serialBaudCode.store(code);
  services_.session.SendSerialBaudRequest(code);
}

void CVarnelDlg::OnSetCanRate() {
  DialogControl* list = Control(main_ids::ComCanRate);
  if (!list) {
    ShowMissing(missing_texts::SettingsCombo);
    return;
  }
  const std::uint8_t code = CodeForSelection(kCanRateList, list->SelectedIndex());
  services_.session.Settings().canRateCode.store(code);
  services_.session.SendCanRateRequest(code);
}

void CVarnelDlg::OnSetOutputMode() {
  DialogControl* list = Control(main_ids::ComSetOutMode);
  if (!list) {
    ShowMissing(missing_texts::OutputModeList);
    return;
  }
  // Not stored: no reply reports the mode, so the record could not be kept true.
  services_.session.SendOutputModeRequest(CodeForSelection(kOutputModeList, list->SelectedIndex()));
}

void CVarnelDlg::OnRestartSensor() {
  if (Confirmed("确认要重启传感器吗？")) services_.session.SendRestartRequest();
}

void CVarnelDlg::OnSaveConfig() {
  if (Confirmed("确认要将保存配置到传感器吗？")) services_.session.SendSaveConfigRequest();
}

void CVarnelDlg::OnFactoryReset() {
  if (Confirmed("确认要恢复出厂设置吗？")) services_.session.SendFactoryResetRequest();
}

}  // namespace varnel
