#pragma once
// Message boxes on real windows, callable from any thread. The presenter is
// defined once per backend (ui/framework/qt, ui/framework/win32).
#include <cstddef>
#include <memory>
#include <string>

#include "platform/Operator.h"

namespace varnel {

class WindowRegistry;

// The application's name: the executable's file name without its extension.
// Boxes without a caption of their own carry it.
std::string ApplicationName();

// Shows real boxes. On the main thread the box is shown at once; on any other
// thread the request is queued onto the main thread and the calling thread
// waits for the answer (no lock is held while it waits).
//
// Shutdown: call Shutdown() on the main thread before joining any thread that
// may be waiting for a box. It answers every waiting request with the
// harmless choice (OK, or No for a question), closes the boxes it has open,
// and answers later requests the same way without showing them, so a waiting
// thread can never hold up the end of the program.
//
// Construct and destroy it on the main thread, after every thread that may
// ask it for a box has been joined.
class DialogMessagePresenter final : public MessagePresenter {
 public:
  // registry: where the main window (MessageOwner::MainWindow) is looked up,
  // by mainWindowCaption. MessageOwner::ActiveDialog is the active modal
  // window, else the active window.
  DialogMessagePresenter(WindowRegistry& registry, std::string mainWindowCaption);
  ~DialogMessagePresenter() override;
  DialogMessagePresenter(const DialogMessagePresenter&) = delete;
  DialogMessagePresenter& operator=(const DialogMessagePresenter&) = delete;

  MessageAnswer Show(const std::string& text, const std::string& caption, MessageButtons buttons,
                     MessageOwner owner) override;
  void Shutdown();
  // Requests from other threads still waiting for their answer. Any thread.
  std::size_t PendingCount();

 private:
  struct State;  // the backend's
  std::unique_ptr<State> state_;
};

}  // namespace varnel
