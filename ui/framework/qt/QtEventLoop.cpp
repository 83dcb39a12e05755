#include "ui/framework/EventLoop.h"

#include <QApplication>
#include <QWidget>

#include "ui/framework/Dialog.h"
#include "ui/framework/qt/QtAccess.h"

#ifdef _WIN32
#include <QWinEventNotifier>
#else
#include <QSocketNotifier>
#endif

namespace varnel {

void EndAllDialogs() {
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (Dialog* dialog = DialogOf(window); dialog && dialog->IsRunning()) dialog->EndDialog(kIdCancel);
  }
}

#ifdef _WIN32
struct WaitableWatch::Native {
  using Notifier = QWinEventNotifier;
  explicit Native(std::intptr_t waitable) : notifier(reinterpret_cast<HANDLE>(waitable)) {}
  Notifier notifier;
};
#else
struct WaitableWatch::Native {
  using Notifier = QSocketNotifier;
  explicit Native(std::intptr_t waitable) : notifier(static_cast<qintptr>(waitable), QSocketNotifier::Read) {}
  Notifier notifier;
};
#endif

WaitableWatch::WaitableWatch(std::intptr_t waitable, std::function<void()> onReady)
    : native_(std::make_unique<Native>(waitable)) {
  QObject::connect(&native_->notifier, &Native::Notifier::activated, [onReady = std::move(onReady)] { onReady(); });
}

WaitableWatch::~WaitableWatch() = default;

}  // namespace varnel
