#pragma once
// Message boxes on Qt, callable from any thread, and the Chinese texts of
// Qt's own buttons and dialogs.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Operator.h"

class QApplication;
class QObject;

namespace varnel {

class WindowRegistry;

// The application's name: the executable's file name without its extension.
// Boxes without a caption of their own carry it. Empty before QCoreApplication exists.
std::string ApplicationName();

// Loads Qt's Simplified Chinese translations (standard buttons, file dialog)
// and makes zh_CN the default locale. Standard buttons the catalogue does not
// translate still read 确定/是/否/取消. Answers whether Qt's catalogue loaded.
bool InstallChineseTranslations(QApplication& app);

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
class QtMessagePresenter final : public MessagePresenter {
 public:
  // registry: where the main window (MessageOwner::MainWindow) is looked up,
  // by mainWindowCaption.
  QtMessagePresenter(WindowRegistry& registry, std::string mainWindowCaption);
  ~QtMessagePresenter() override;
  QtMessagePresenter(const QtMessagePresenter&) = delete;
  QtMessagePresenter& operator=(const QtMessagePresenter&) = delete;

  MessageAnswer Show(const std::string& text, const std::string& caption, MessageButtons buttons,
                     MessageOwner owner) override;
  void Shutdown();
  // Requests from other threads still waiting for their answer. Any thread.
  std::size_t PendingCount();

 private:
  struct Request;
  void Run(const std::shared_ptr<Request>& request);
  MessageAnswer ShowNow(const std::string& text, const std::string& caption, MessageButtons buttons,
                        MessageOwner owner);

  WindowRegistry& registry_;  // outlives the presenter
  const std::string mainWindowCaption_;
  QObject* context_;          // main thread; the queued calls run on it
  std::mutex mutex_;          // guards shutdown_, pending_ and every Request::answered
  bool shutdown_ = false;
  std::vector<std::shared_ptr<Request>> pending_;  // requests from other threads not yet answered
  std::vector<QObject*> openBoxes_;                // main thread only
};

}  // namespace varnel
