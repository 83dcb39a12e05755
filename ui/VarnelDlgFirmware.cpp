#include "ui/VarnelDlg.h"

namespace varnel {
void CVarnelDlg::RegisterFirmwareHandlers() {}
void CVarnelDlg::OnDownloadFirmware() {}
}  // namespace varnel
