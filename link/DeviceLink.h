#pragma once
// The serial link to the sensor: the port, the one send path and the reader thread.
//
// SendData may be called from any thread: sendLock keeps the single transmit
// buffer and the frame order, portLock guards the write itself. The reader
// thread waits for input (it does not spin), hands every byte in order to the
// receiver, and runs the frame handler on its own thread.
//
// A port that goes away under the reader (a USB adapter pulled out) is closed
// and opened again under the same name, with the same settings, as soon as a
// device answers to that name; meanwhile SendData dumps and writes nothing.
//
// Stopping never waits on the port: once Stop() has begun, the reader hands
// no more bytes on, a write in progress gives up and later writes are not
// tried, so a port that takes nothing while replies keep coming cannot hold
// the stop up for a write bound per reply.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "link/FrameReceiver.h"
#include "link/FrameSender.h"
#include "link/LinkFrame.h"
#include "link/TrafficDump.h"
#include "platform/Operator.h"
#include "platform/SerialPort.h"

namespace varnel {

class DeviceLink final : public FrameSender {
 public:
  static constexpr std::uint32_t kWriteTimeoutMs = 1000;
  static constexpr std::size_t kReadBufferSize = 10240;

  // op: where a failed open is reported. log: where every frame written is
  // dumped ("SendData"); none for no trace.
  DeviceLink(FrameReceiver& receiver, const Operator& op, TrafficLog* log = nullptr);
  ~DeviceLink() override;  // stops the reader and closes the port

  // Changes where frames are dumped; any thread (a test traces part of a session).
  void SetTrafficLog(TrafficLog* log) { log_.store(log); }

  // Opens and configures the port once per process. On failure shows
  // "打开串口失败！" (caption "错误"), prints the system's reason on standard
  // error and answers false; an already open port stays open and untouched,
  // and so does one that is gone for the moment and being waited for.
  bool OpenPort(const std::string& name, std::uint32_t baud);
  bool ConfigurePort(std::uint32_t baud);
  // Whether a handle is open now: false while a vanished port is waited for.
  bool IsOpen() const;

  void SendData(LinkFrame& frame) override;

  // Starts the reader thread (once). Frames reach the receiver's handler on it.
  void StartReader();
  // Stops and joins the reader thread and closes the port. Safe to call twice.
  // Takes no longer than one pass of the frame handler, whatever the port does.
  void Stop();

  // Frames written since construction (whole frames only).
  std::uint64_t FramesSent() const { return framesSent_.load(); }

  // The operating system's id of the running reader thread (on Linux the
  // kernel's thread id, as in /proc/self/task; on Windows the id OpenThread
  // takes), 0 when none runs or the platform has no such number. For
  // diagnostics: whoever watches the processor time a lost port costs needs
  // to know which thread to look at.
  long ReaderSystemThreadId() const { return readerSystemId_.load(); }

  // Pause between two attempts to reopen a port that has gone away.
  static constexpr std::chrono::milliseconds kReopenInterval{200};

 private:
  void ReaderThread();
  // Hands bytes to the receiver one by one until they are done or Stop() begins.
  void FeedReceiver(const std::uint8_t* bytes, std::size_t count);
  // The device went away: closes the dead handle (SendData then writes nothing).
  void DropLostPort();
  // Waits kReopenInterval (Stop() cuts the wait short), then tries once to open
  // the port again under its name. Answers whether a handle is open afterwards.
  // Bytes the reopened port already holds are fed to the receiver.
  bool TryReopen(std::uint8_t* buffer, std::size_t capacity);

  // Lock order: sendLock_, then portLock_; nothing takes sendLock_ while it holds
  // portLock_. The reader takes portLock_ alone to close and reopen the port and
  // never holds it while it feeds the receiver (the frame handler may call
  // SendData). wakeMutex_ is only ever held on its own.
  FrameReceiver& receiver_;   // fed by the reader thread only
  const Operator operator_;   // refers to objects that outlive the link
  std::atomic<TrafficLog*> log_;  // read by every sending thread
  // Opened and closed under portLock_. While the reader runs only the reader
  // opens or closes it (OpenPort refuses while a port is open or being waited
  // for), so the reader's Read may use it without the lock.
  SerialPort port_;
  std::mutex sendLock_;       // held from the crc to the end of the write
  mutable std::mutex portLock_;  // held around the write, and around open/close
  std::uint8_t transmit_[kLinkMaxWireFrame] = {};  // guarded by sendLock_
  std::string portName_;      // guarded by portLock_: what a lost port is reopened under ("" when none)
  std::uint32_t baud_ = 0;    // guarded by portLock_: the baud a reopened port is configured with
  bool lost_ = false;         // reader thread only: the port went away and is not back yet
  std::thread reader_;        // owned by the thread that calls StartReader/Stop (UI thread)
  std::atomic<bool> stopping_{false};
  std::atomic<std::thread::id> readerId_{};  // set by the reader thread itself when it starts
  std::atomic<long> readerSystemId_{0};      // written by the reader thread itself as it starts and ends
  std::mutex wakeMutex_;             // pairs with wake_
  std::condition_variable wake_;     // Stop() wakes the reader's wait between reopen attempts
  std::atomic<std::uint64_t> framesSent_{0};
};

}  // namespace varnel
