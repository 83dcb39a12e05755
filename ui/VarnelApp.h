#pragma once
// The application object: runs the main dialog modally, and when it closes
// stops the link in order (boxes answered, timers stopped, reader joined, port
// closed) before the process-wide objects go.
#include "ui/AppServices.h"

namespace varnel {

class QtMessagePresenter;

class CVarnelApp {
 public:
  // presenter: the box presenter to shut down first at exit, so a reader
  // thread waiting for an operator's answer cannot hold up the end; may be null.
  CVarnelApp(AppServices& services, QtMessagePresenter* presenter);

  // Runs the whole life of the user interface; answers false, as there is no
  // message loop of the application's own after it.
  bool InitInstance();

 private:
  void StopLink();

  AppServices& services_;
  QtMessagePresenter* presenter_;
};

}  // namespace varnel
