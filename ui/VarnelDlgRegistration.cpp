// Production registration from the main window. Its button stays hidden
// from initialisation on: registration is a factory step, reached only on purpose.
#include <chrono>
#include <thread>

#include "ui/DevRegister.h"
#include "ui/DialogTemplates.h"
#include "ui/VarnelDlg.h"

namespace varnel {

void CVarnelDlg::RegisterRegistrationHandlers() {
  On(main_ids::ProductionRegister, Notify::Clicked, [this] { OnProductionRegister(); });
}

void CVarnelDlg::OnProductionRegister() {
  // The poll stops but the card search keeps its state and caption (Paused), so
  // no card read crosses the registration write; nothing restarts it afterwards.
  services_.session.StopCardPoll();
  // Lets a card read already on the wire be answered before the write goes out.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  CDevRegister dialog(services_, this);
  dialog.RunModal();
}

}  // namespace varnel
