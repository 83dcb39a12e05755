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
  QWinEventNotifier notifier;
  explicit Native(std::intptr_t waitable) : notifier(reinterpret_cast<HANDLE>(waitable)) {}
};
#else
struct WaitableWatch::Native {
  QSocketNotifier notifier;
  explicit Native(std::intptr_t waitable) : notifier(static_cast<qintptr>(waitable), QSocketNotifier::Read) {}
};
#endif

WaitableWatch::WaitableWatch(std::intptr_t waitable, std::function<void()> onReady)
    : native_(std::make_unique<Native>(waitable)) {
  QObject::connect(&native_->notifier, &std::remove_reference_t<decltype(native_->notifier)>::activated,
                   [onReady = std::move(onReady)] { onReady(); });
}

WaitableWatch::~WaitableWatch() = default;

}  // namespace varnel
