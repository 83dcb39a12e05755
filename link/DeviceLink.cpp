#include "link/DeviceLink.h"

#include <chrono>
#include <cstdio>

#include "link/TrafficDump.h"
#include "platform/MessageBox.h"

namespace varnel {
namespace {

// How long one wait for input lasts before the reader looks at stopping_ again.
// Stop() wakes it sooner through CancelRead.
constexpr int kReadWaitMs = 200;
// Pause between checks of a port that has hung up.
constexpr auto kHangUpRecheck = std::chrono::milliseconds(100);

}  // namespace

DeviceLink::DeviceLink(FrameReceiver& receiver) : receiver_(receiver) {}

DeviceLink::~DeviceLink() { Stop(); }

bool DeviceLink::OpenPort(const std::string& name, std::uint32_t baud) {
  std::string reason;
  bool opened = false;
  {
    std::lock_guard port(portLock_);
    if (port_.IsOpen())
      reason = "a port is already open (" + port_.Name() + ")";
    else
      opened = port_.Open(name, &reason);
  }
  if (opened) {
    baud_ = baud;
    ConfigurePort(baud);  // a port that takes only part of its settings is still used
    return true;
  }
  std::fprintf(stderr, "varnel: cannot open %s: %s\n", name.c_str(), reason.c_str());
  ShowMessage("打开串口失败！", "错误", MessageButtons::Ok, MessageOwner::None);
  return false;
}

bool DeviceLink::ConfigurePort(std::uint32_t baud) {
  std::lock_guard port(portLock_);
  if (!port_.IsOpen()) return false;
  return port_.Configure(baud);
}

bool DeviceLink::IsOpen() const {
  std::lock_guard port(portLock_);
  return port_.IsOpen();
}

void DeviceLink::SendData(LinkFrame& frame) {
  std::lock_guard send(sendLock_);
  const std::size_t length = SerialiseFrame(frame, transmit_);
  DumpTraffic(transmit_, static_cast<int>(length), "SendData");
  std::lock_guard port(portLock_);
  if (!port_.IsOpen()) return;
  const std::size_t written = port_.Write(transmit_, length, static_cast<int>(kWriteTimeoutMs));
  if (written == length) {
    framesSent_.fetch_add(1);
  } else {
    // The caller is not told (nothing it could do), but whoever watches the
    // trace should know that this frame did not leave whole.
    std::fprintf(stderr, "varnel: SendData: wrote %zu of %zu bytes to %s\n", written, length,
                 port_.Name().c_str());
  }
}

void DeviceLink::StartReader() {
  if (reader_.joinable()) return;
  stopping_.store(false);
  reader_ = std::thread([this] { ReaderThread(); });
}

void DeviceLink::Stop() {
  if (readerId_.load() == std::this_thread::get_id()) {
    // Asked from the frame handler: the reader ends after the handler returns;
    // the join and the close are left to the next Stop() from another thread.
    stopping_.store(true);
    return;
  }
  {
    std::lock_guard wake(wakeMutex_);
    stopping_.store(true);
  }
  wake_.notify_all();
  port_.CancelRead();
  if (reader_.joinable()) reader_.join();
  readerId_.store(std::thread::id());
  std::lock_guard port(portLock_);
  port_.Close();
}

void DeviceLink::ReaderThread() {
  readerId_.store(std::this_thread::get_id());
  std::uint8_t buffer[kReadBufferSize];  // private to this thread
  while (!stopping_.load()) {
    const ReadResult result = port_.Read(buffer, sizeof buffer, kReadWaitMs);
    switch (result.status) {
      case ReadStatus::Data:
        // Every byte, in order; a frame it completes is handled before the next byte.
        receiver_.Feed(buffer, result.count);
        break;
      case ReadStatus::Timeout:
      case ReadStatus::Cancelled:
        break;
      case ReadStatus::HungUp:
        RecoverAfterHangUp();
        break;
    }
  }
}

void DeviceLink::RecoverAfterHangUp() {
  // Half a frame from before the hang-up must not be completed by bytes from after it.
  receiver_.Reset();
  // Reopening the port under its name belongs here. Until then, wait for Stop()
  // with a pause between checks, so a vanished device costs no processor time.
  std::unique_lock wake(wakeMutex_);
  wake_.wait_for(wake, kHangUpRecheck, [this] { return stopping_.load(); });
}

DeviceLink& ProcessLink() {
  static DeviceLink link(ProcessReceiver());
  return link;
}

bool OpenPort(const std::string& name, std::uint32_t baud) { return ProcessLink().OpenPort(name, baud); }

bool ConfigurePort(std::uint32_t baud) { return ProcessLink().ConfigurePort(baud); }

void SendData(LinkFrame& frame) { ProcessLink().SendData(frame); }

}  // namespace varnel
