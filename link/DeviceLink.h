#pragma once
// The serial link to the sensor: the port, the one send path and the reader thread.
//
// SendData may be called from any thread: sendLock keeps the single transmit
// buffer and the frame order, portLock guards the write itself. The reader
// thread waits for input (it does not spin), hands every byte in order to the
// receiver, and runs the frame handler on its own thread.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "link/FrameReceiver.h"
#include "link/LinkFrame.h"
#include "platform/SerialPort.h"

namespace varnel {

// Whatever puts frames on the wire. Protocol code sends through this, so its
// tests can record frames instead of writing them.
class FrameSender {
 public:
  virtual ~FrameSender() = default;
  // Computes and stores the crc, dumps and writes the frame. Reports nothing.
  virtual void SendData(LinkFrame& frame) = 0;
};

class DeviceLink final : public FrameSender {
 public:
  static constexpr std::uint32_t kWriteTimeoutMs = 1000;
  static constexpr std::size_t kReadBufferSize = 10240;

  explicit DeviceLink(FrameReceiver& receiver);
  ~DeviceLink() override;  // stops the reader and closes the port

  // Opens and configures the port once per process. On failure shows
  // "打开串口失败！" (caption "错误"), prints the system's reason on standard
  // error and answers false; an already open port stays open and untouched.
  bool OpenPort(const std::string& name, std::uint32_t baud);
  bool ConfigurePort(std::uint32_t baud);
  bool IsOpen() const;

  void SendData(LinkFrame& frame) override;

  // Starts the reader thread (once). Frames reach the receiver's handler on it.
  void StartReader();
  // Stops and joins the reader thread and closes the port. Safe to call twice.
  void Stop();

  // Frames written since construction (whole frames only).
  std::uint64_t FramesSent() const { return framesSent_.load(); }

 private:
  void ReaderThread();
  // The device went away. Waits, without spinning, until it may be tried again
  // or Stop() is called; the place where a vanished port will be reopened.
  void RecoverAfterHangUp();

  FrameReceiver& receiver_;   // fed by the reader thread only
  SerialPort port_;           // opened/closed under portLock_, never during a Read on another thread; read by the reader without it
  std::mutex sendLock_;       // held from the crc to the end of the write
  mutable std::mutex portLock_;  // held around the write, and around open/close
  std::uint8_t transmit_[kLinkMaxWireFrame] = {};  // guarded by sendLock_
  std::uint32_t baud_ = 0;    // written by OpenPort before the reader starts
  std::thread reader_;        // owned by the thread that calls StartReader/Stop (UI thread)
  std::atomic<bool> stopping_{false};
  std::atomic<std::thread::id> readerId_{};  // set by the reader thread itself when it starts
  std::mutex wakeMutex_;             // pairs with wake_
  std::condition_variable wake_;     // Stop() wakes the reader's wait after a hang-up
  std::atomic<std::uint64_t> framesSent_{0};
};

// The process-wide link, and the named operations the rest of the program uses.
DeviceLink& ProcessLink();
bool OpenPort(const std::string& name, std::uint32_t baud);
bool ConfigurePort(std::uint32_t baud);
void SendData(LinkFrame& frame);

}  // namespace varnel
