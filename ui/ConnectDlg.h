#pragma once
// The connect dialog: pick the port the sensor hangs on and open it at 115200 Bd.
#include <string>
#include <vector>

#include "ui/AppServices.h"
#include "ui/framework/Dialog.h"

namespace varnel {

class CConnectDlg : public Dialog {
 public:
  explicit CConnectDlg(AppServices& services);
  CConnectDlg(AppServices& services, const DialogTemplate& dialogTemplate);

  void OnPortSelected();
  void OnConnect();
  // Lists the ports again (each time the list opens), keeping the choice when it is still there.
  void RescanPorts();

  const std::string& PortName() const { return portName_; }
  int BaudRate() const { return baudRate_; }

 protected:
  void OnInitDialog() override;
  // Enter (the dialog's OK command) connects as "连接" does: the dialog never
  // ends with OK unless a port is open.
  void OnOK() override { OnConnect(); }

 private:
  void ShowPlain(const char* text);  // a box over this dialog, the application's name as caption
  void EnumeratePorts();
  void FillPortList(const std::string& keep);

  AppServices& services_;              // outlives the dialog
  std::string portName_;               // UI thread only; given to OpenPort
  int baudRate_ = 0;                   // UI thread only
  std::vector<std::string> portTable_;  // UI thread only; enumeration order
};

}  // namespace varnel
