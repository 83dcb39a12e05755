#pragma once
// Requests from outside to end the program, turned into something the main thread's
// event loop can watch, so the program ends the way a quit does (windows closed, timers
// stopped, reader joined, port released) instead of dying where it stands.
// POSIX: SIGTERM, SIGINT and SIGHUP, through a self-pipe. Windows: the console's Ctrl+C,
// Ctrl+Break, close, log-off and shut-down events, through an event object.
#include <cstdint>
#include <memory>

namespace varnel {

class StopSignals {
 public:
  // Installs the handlers. Only one object at a time can have them (Installed() tells).
  StopSignals();
  ~StopSignals();  // puts back what was installed before
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  bool Installed() const { return installed_; }
  // What to watch. POSIX: a descriptor that turns readable once a stop was requested.
  // Windows: an event HANDLE that is signalled then.
  std::intptr_t Waitable() const { return waitable_; }
  // Consumes the requests so far; answers the signal (or console event) of the last one,
  // 0 when there was none.
  int Take();

 private:
  struct Previous;  // the handlers in place before, put back by the destructor
  std::unique_ptr<Previous> previous_;
  bool installed_ = false;
  std::intptr_t waitable_ = -1;
  std::intptr_t writeEnd_ = -1;  // POSIX: the self-pipe's write end
};

// SIGPIPE and SIGXFSZ are ignored from here on: a write to a closed pipe then answers
// EPIPE and a write past the file-size limit EFBIG, and the code that wrote reports the
// failure, instead of the process being killed half-way (in a ledger rewrite, say).
// Nothing to do on Windows.
void IgnoreWriteSignals();

}  // namespace varnel
