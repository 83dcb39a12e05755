#pragma once
// The application object: runs the main dialog modally, and when it closes
// stops the link in order (boxes answered, timers stopped, reader joined, port
// closed) before the objects main() built for it go: the reader must not
// outlive the session whose handler it runs. A stop request from outside
// (SIGTERM, SIGINT, SIGHUP) closes every open dialog the way a quit does, so
// the program takes that same orderly way out.
#include <memory>

#include "ui/AppServices.h"

namespace varnel {

class DialogMessagePresenter;
class StopSignals;
class WaitableWatch;

class CVarnelApp {
 public:
  // presenter: the box presenter to shut down first at exit, so a reader
  // thread waiting for an operator's answer cannot hold up the end; may be null.
  // stopSignals: the stop requests to watch while the dialogs run; may be null.
  CVarnelApp(AppServices& services, DialogMessagePresenter* presenter, StopSignals* stopSignals = nullptr);

  // Runs the whole life of the user interface; answers false, as there is no
  // message loop of the application's own after it.
  bool InitInstance();

  // Ends every open dialog as a quit would: boxes get their harmless answer and
  // none is shown any more, then each running dialog ends with Cancel. Main thread.
  void CloseAllDialogs();

 private:
  // Watches stopSignals_ on the main thread's event loop (which the modal runs keep turning).
  std::unique_ptr<WaitableWatch> WatchStopSignals();
  void StopLink();

  AppServices& services_;
  DialogMessagePresenter* presenter_;
  StopSignals* stopSignals_;
};

}  // namespace varnel
