// The card-search row of the main window. One button starts and stops a poll
// that asks for a card reading every 100 ms; the session's gate keeps at most
// one poll-driven read on the wire, so a slow or silent sensor never gets a
// pile of requests. Readings arrive as WM_CARD_NUMBER from the reader thread.
//
// The card-write row (1014, 1015) has no request behind it: the template shows
// it disabled and no handler is registered, so pressing it does nothing.
#include "ui/DialogTemplates.h"
#include "ui/VarnelDlg.h"
#include "ui/rules/DisplayText.h"

namespace varnel {
namespace {

constexpr char kCaptionStop[] = "停止寻卡";

}  // namespace

void CVarnelDlg::RegisterCardSearchHandlers() {
  On(main_ids::SearchCard, Notify::Clicked, [this] { OnSearchCard(); });
}

// Off -> On starts the poll; On or Paused -> Off. Paused (the poll stopped by a
// firmware download or the registration while the search was on) still reads
// "停止寻卡", so its press only ends the search and a further press starts it.
void CVarnelDlg::OnSearchCard() {
  if (cardSearchActive_) {
    EndCardSearch();
    return;
  }
  cardSearchActive_ = true;
  services_.session.StartCardPoll();  // a poll already running is left as it is
  if (DialogControl* button = Control(main_ids::SearchCard)) button->SetText(kCaptionStop);
}

void CVarnelDlg::OnCardNumber(std::uint32_t status, std::uint32_t number) {
  DialogControl* box = Control(main_ids::EditCardId);
  if (!box) {
    services_.op.ShowMessage("EditCardId对象不存在", {}, MessageButtons::Ok, MessageOwner::MainWindow);
    return;
  }
  // Status 1 with number 0, and statuses other than 0 and 1, leave the box as it is.
  if (const std::optional<std::string> text = CardNumberText(status, number)) box->SetText(*text);
}

}  // namespace varnel
