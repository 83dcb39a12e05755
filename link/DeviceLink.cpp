#include "link/DeviceLink.h"

#include <chrono>
#include <cstdio>

#ifdef __linux__
#include <sys/syscall.h>
#include <unistd.h>
#elif defined(_WIN32)
#include "platform/Win32.h"
#endif

#include "link/TrafficDump.h"

namespace varnel {
namespace {

// How long one wait for input lasts before the reader looks at stopping_ again.
// Stop() wakes it sooner through CancelRead.
constexpr int kReadWaitMs = 200;

// The number ps and /proc (Linux) or the thread tools (Windows) show for the
// calling thread; 0 where there is none we use.
long SystemThreadId() {
#ifdef __linux__
  return static_cast<long>(::syscall(SYS_gettid));
#elif defined(_WIN32)
  return static_cast<long>(::GetCurrentThreadId());
#else
  return 0;
#endif
}

}  // namespace

DeviceLink::DeviceLink(FrameReceiver& receiver, const Operator& op, TrafficLog* log)
    : receiver_(receiver), operator_(op), log_(log) {}

DeviceLink::~DeviceLink() { Stop(); }

bool DeviceLink::OpenPort(const std::string& name, std::uint32_t baud) {
  std::string reason;
  bool opened = false;
  {
    std::lock_guard port(portLock_);
    if (port_.IsOpen()) {
      reason = "a port is already open (" + port_.Name() + ")";
    } else if (!portName_.empty()) {
      reason = "a port is already in use (" + portName_ + ", gone for the moment and waited for)";
    } else {
      opened = port_.Open(name, &reason);
      if (opened) {
        portName_ = name;
        baud_ = baud;
      }
    }
  }
  if (opened) {
    ConfigurePort(baud);  // a port that takes only part of its settings is still used
    return true;
  }
  std::fprintf(stderr, "varnel: cannot open %s: %s\n", name.c_str(), reason.c_str());
  operator_.ShowMessage("打开串口失败！", "错误", MessageButtons::Ok, MessageOwner::None);
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
  DumpTraffic(log_.load(), transmit_, static_cast<int>(length), "SendData");
  std::lock_guard port(portLock_);
  if (!port_.IsOpen() || stopping_.load()) return;
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
  // A write in progress (on the reader, from the frame handler, or on any
  // sender) gives up now instead of at its bound; so does every later one
  // until the port is closed below.
  port_.CancelWrites();
  port_.CancelRead();
  if (reader_.joinable()) reader_.join();
  readerId_.store(std::thread::id());
  std::lock_guard port(portLock_);
  port_.Close();
  portName_.clear();  // nothing is waited for any more: the name is free for OpenPort again
  stopping_.store(false);  // the port is closed: a port opened later is written to again
}

void DeviceLink::ReaderThread() {
  readerId_.store(std::this_thread::get_id());
  readerSystemId_.store(SystemThreadId());
  lost_ = false;
  std::uint8_t buffer[kReadBufferSize];  // private to this thread
  // Read only once a handle is known to be open: the check under portLock_
  // orders the reads of the handle after OpenPort's write of it.
  bool haveHandle = IsOpen();
  while (!stopping_.load()) {
    if (!haveHandle) {
      haveHandle = TryReopen(buffer, sizeof buffer);
      continue;
    }
    // While part of a frame is held, a wait as long as the idle limit tells
    // the receiver that the rest of it is not coming.
    const bool holding = receiver_.HoldsBytes();
    const int waitMs = holding ? static_cast<int>(FrameReceiver::kIdleResync.count()) : kReadWaitMs;
    const ReadResult result = port_.Read(buffer, sizeof buffer, waitMs);
    switch (result.status) {
      case ReadStatus::Data:
        FeedReceiver(buffer, result.count);
        break;
      case ReadStatus::Timeout:
        if (holding) receiver_.LineIdle(std::chrono::milliseconds(waitMs));
        break;
      case ReadStatus::Cancelled:
        break;
      case ReadStatus::HungUp:
        DropLostPort();
        haveHandle = false;
        break;
    }
  }
  readerSystemId_.store(0);
}

void DeviceLink::FeedReceiver(const std::uint8_t* bytes, std::size_t count) {
  // Every byte, in order; a frame it completes is handled before the next byte.
  // Once stopping has begun nothing more is handed on: the rest of the buffer
  // would only make the handler send requests to a port that is going away.
  for (std::size_t i = 0; i < count && !stopping_.load(std::memory_order_relaxed); ++i) receiver_.RecvData(bytes[i]);
}

void DeviceLink::DropLostPort() {
  std::string name;
  {
    std::lock_guard port(portLock_);
    name = portName_;
    port_.Close();
  }
  if (!lost_ && !name.empty()) {
    // One line for the loss and one for the return, not one per attempt.
    std::fprintf(stderr, "varnel: lost the port %s; opening it again as soon as it is back\n", name.c_str());
  }
  lost_ = !name.empty();
}

bool DeviceLink::TryReopen(std::uint8_t* buffer, std::size_t capacity) {
  {
    std::unique_lock wake(wakeMutex_);
    if (wake_.wait_for(wake, kReopenInterval, [this] { return stopping_.load(); })) return false;
  }
  std::string name;
  {
    std::lock_guard port(portLock_);
    if (port_.IsOpen()) return true;       // OpenPort came after a reader started without a port
    if (portName_.empty()) return false;   // nothing opened yet, so nothing to reopen
    // Absent (ENOENT), not ready (ENXIO, EIO), busy: all mean "not back yet".
    if (!port_.Open(portName_, nullptr)) return false;
    port_.Configure(baud_);
    name = portName_;
  }
  // A name that opens but hangs up at once (a device still being torn down) is
  // not back: close it again quietly and keep waiting.
  const ReadResult probe = port_.Read(buffer, capacity, 0);
  if (probe.status == ReadStatus::HungUp) {
    std::lock_guard port(portLock_);
    port_.Close();
    return false;
  }
  // Half a frame from before the loss must not be completed by bytes from after it.
  receiver_.Reset();
  if (lost_) {
    std::fprintf(stderr, "varnel: the port %s is back\n", name.c_str());
    lost_ = false;
  }
  if (probe.status == ReadStatus::Data) FeedReceiver(buffer, probe.count);
  return true;
}

}  // namespace varnel
