#include "platform/MessageBox.h"

#include <atomic>
#include <cstdio>

namespace varnel {
namespace {

class StderrPresenter final : public MessagePresenter {
 public:
  MessageAnswer Show(const std::string& text, const std::string& caption, MessageButtons buttons,
                     MessageOwner) override {
    std::fprintf(stderr, "[%s] %s\n", caption.empty() ? "varnel" : caption.c_str(), text.c_str());
    // Without an operator to ask, a question is answered with the harmless choice.
    return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
  }
};

StderrPresenter g_stderrPresenter;
std::atomic<MessagePresenter*> g_presenter{nullptr};  // atomic: read from every thread

}  // namespace

void SetMessagePresenter(MessagePresenter* presenter) { g_presenter.store(presenter); }

MessagePresenter& CurrentMessagePresenter() {
  MessagePresenter* p = g_presenter.load();
  return p ? *p : g_stderrPresenter;
}

MessageAnswer ShowMessage(const std::string& text, const std::string& caption,
                          MessageButtons buttons, MessageOwner owner) {
  return CurrentMessagePresenter().Show(text, caption, buttons, owner);
}

}  // namespace varnel
