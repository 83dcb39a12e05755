#include "ui/ConnectDlg.h"

#include "ui/DialogTemplates.h"
#include "ui/rules/PortListing.h"
#include "ui/rules/SettingCodes.h"

namespace varnel {
namespace {

constexpr int kPcBaud = 115200;

}  // namespace

void CConnectDlg::ShowPlain(const char* text) {
  services_.op.ShowMessage(text, {}, MessageButtons::Ok, MessageOwner::ActiveDialog);
}

CConnectDlg::CConnectDlg(AppServices& services) : CConnectDlg(services, ConnectDialogTemplate()) {}

CConnectDlg::CConnectDlg(AppServices& services, const DialogTemplate& dialogTemplate)
    : Dialog(dialogTemplate, nullptr, &services.windows), services_(services) {
  On(connect_ids::PortList, Notify::SelectionChanged, [this] { OnPortSelected(); });
  On(connect_ids::PortList, Notify::DropDownOpening, [this] { RescanPorts(); });
  On(connect_ids::Connect, Notify::Clicked, [this] { OnConnect(); });
}

void CConnectDlg::OnInitDialog() {
  EnumeratePorts();
  if (DialogControl* baud = Control(connect_ids::BaudList)) {
    // The rates the sensor's own serial port offers; only the first is ever used here.
    int index = 0;
    for (const ListEntry& entry : kSerialBaudList.entries) baud->InsertItem(index++, entry.text);
    baud->Select(0);
    baudRate_ = kPcBaud;
    // The PC side always runs at 115200 Bd.
    baud->Enable(false);
  } else {
    ShowPlain(missing_texts::ConnectCombo);
  }
}

void CConnectDlg::EnumeratePorts() {
  const PortListing listing = ApplyPortListingRule(services_.enumeratePorts(), kPortNamesUseComRule);
  portTable_ = listing.listed;
  if (!Control(connect_ids::PortList)) {
    ShowPlain(missing_texts::ConnectCombo);
    return;
  }
  FillPortList({});
  portName_ = listing.portName;
}

void CConnectDlg::FillPortList(const std::string& keep) {
  DialogControl* list = Control(connect_ids::PortList);
  list->ClearItems();
  int keepIndex = 0;
  for (int i = 0; i < static_cast<int>(portTable_.size()); ++i) {
    list->InsertItem(i, portTable_[static_cast<std::size_t>(i)]);
    if (!keep.empty() && portTable_[static_cast<std::size_t>(i)] == keep) keepIndex = i;
  }
  list->Select(keepIndex);
}

void CConnectDlg::RescanPorts() {
  DialogControl* list = Control(connect_ids::PortList);
  if (!list) return;
  const int selected = list->SelectedIndex();
  const std::string current = selected >= 0 ? list->ItemText(selected) : std::string();
  portTable_ = ApplyPortListingRule(services_.enumeratePorts(), kPortNamesUseComRule).listed;
  FillPortList(current);
  const int now = list->SelectedIndex();
  // A port that was picked and has gone is replaced by the first one listed now.
  if (now >= 0) portName_ = list->ItemText(now);
}

void CConnectDlg::OnPortSelected() {
  DialogControl* list = Control(connect_ids::PortList);
  if (!list) {
    ShowPlain(missing_texts::ConnectCombo);
    return;
  }
  portName_ = list->ItemText(list->SelectedIndex());
}

void CConnectDlg::OnConnect() {
  if (services_.link.OpenPort(portName_, static_cast<std::uint32_t>(baudRate_))) {
    EndDialog(kIdOk);
    return;
  }
  ShowPlain("串口打开失败");
}

}  // namespace varnel
