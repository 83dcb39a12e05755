// Win32 implementation of SerialPort.
//
// The handle is opened for overlapped I/O, so a read waiting for input never
// holds up a write on another thread. A read waits for its first byte with a
// one-byte overlapped ReadFile, in WaitForMultipleObjects beside the event
// CancelRead() signals, and then takes whatever else the driver holds. The
// one-byte read is left pending when the wait times out and is picked up by
// the next Read (so no byte is lost or reordered); Close() cancels it. A write
// waits for its overlapped WriteFile beside the event CancelWrites() signals.
#include "platform/Win32.h"

#include <algorithm>
#include <atomic>
#include <chrono>

#include "platform/SerialPort.h"

namespace varnel {
namespace {

using Clock = std::chrono::steady_clock;

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

std::string Narrow(const wchar_t* wide, int count) {
  if (count <= 0) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide, count, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, count, out.data(), n, nullptr, nullptr);
  return out;
}

// The system's words for an open failure, with what the operator can do about it.
std::string DescribeOpenError(DWORD err) {
  wchar_t* text = nullptr;
  const DWORD len = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, err, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string out = len && text ? Narrow(text, static_cast<int>(len)) : "error " + std::to_string(err);
  if (text) LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) out.pop_back();
  switch (err) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      out += " (busy: another program holds the port)";
      break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      out += " (absent)";
      break;
    default:
      break;
  }
  return out;
}

// Milliseconds left until deadline, rounded up so a wait never ends early; INFINITE without a deadline.
DWORD RemainingMs(bool bounded, Clock::time_point deadline) {
  if (!bounded) return INFINITE;
  const auto left = deadline - Clock::now();
  if (left <= Clock::duration::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms >= static_cast<long long>(INFINITE) ? INFINITE - 1 : static_cast<DWORD>(ms);
}

}  // namespace

struct SerialPort::Impl {
  Impl()
      : readDone(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        writeDone(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        cancelRead(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
        stopWrites(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~Impl() {
    for (HANDLE event : {readDone, writeDone, cancelRead, stopWrites})
      if (event) CloseHandle(event);
  }

  // Takes up to capacity bytes the driver already holds, without waiting for more.
  // Answers false when the device has gone.
  bool TakeQueued(std::uint8_t* buffer, std::size_t capacity, std::size_t* got);
  // Cancels the pending one-byte read and waits until it has settled (it may
  // have taken its byte first; that byte goes with the handle being closed).
  void SettlePendingRead();

  HANDLE handle = INVALID_HANDLE_VALUE;  // written by Open/Close, which never run while a Read or Write does
  std::string name;                      // same owner as handle
  // The one-byte read and what it reads into: the reading thread's (Read, and
  // Close, which never runs while a Read does).
  OVERLAPPED readOp{};
  std::uint8_t firstByte = 0;
  bool readPending = false;
  OVERLAPPED writeOp{};  // the writing thread's; the link writes under its port lock, one at a time
  // Created once, never changed; signalled from any thread.
  const HANDLE readDone;    // manual reset, the overlapped read's event
  const HANDLE writeDone;   // manual reset, the overlapped write's event
  const HANDLE cancelRead;  // auto reset: one CancelRead wakes one wait (or the next, if none waits)
  const HANDLE stopWrites;  // manual reset: set by CancelWrites, reset by Close
  std::atomic<bool> writesCancelled{false};  // set by CancelWrites on any thread, cleared by Close
};

bool SerialPort::Impl::TakeQueued(std::uint8_t* buffer, std::size_t capacity, std::size_t* got) {
  *got = 0;
  DWORD errors = 0;
  COMSTAT status{};
  if (!ClearCommError(handle, &errors, &status)) return false;
  const DWORD want = static_cast<DWORD>(std::min<std::size_t>(capacity, status.cbInQue));
  if (want == 0) return true;
  // The bytes are there, so this read completes at once (with no read time-outs
  // set it waits for exactly what it asks for).
  readOp = OVERLAPPED{};
  readOp.hEvent = readDone;
  ResetEvent(readDone);
  DWORD n = 0;
  if (!ReadFile(handle, buffer, want, nullptr, &readOp) && GetLastError() != ERROR_IO_PENDING) return false;
  if (!GetOverlappedResult(handle, &readOp, &n, TRUE)) return false;
  *got = n;
  return true;
}

void SerialPort::Impl::SettlePendingRead() {
  if (!readPending) return;
  readPending = false;
  CancelIoEx(handle, &readOp);
  DWORD n = 0;
  GetOverlappedResult(handle, &readOp, &n, TRUE);
}

SerialPort::SerialPort() : impl_(std::make_unique<Impl>()) {}

SerialPort::~SerialPort() { Close(); }

bool SerialPort::Open(const std::string& name, std::string* reason) {
  std::string ignored;
  if (!reason) reason = &ignored;
  if (impl_->handle != INVALID_HANDLE_VALUE) {
    *reason = "this object already holds " + impl_->name;
    return false;
  }
  // The \\.\ prefix reaches every port, COM10 and above included.
  const std::wstring path = L"\\\\.\\" + Widen(name);
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *reason = DescribeOpenError(GetLastError());
    return false;
  }
  impl_->handle = handle;
  impl_->name = name;
  return true;
}

bool SerialPort::IsOpen() const { return impl_->handle != INVALID_HANDLE_VALUE; }

const std::string& SerialPort::Name() const { return impl_->name; }

bool SerialPort::Configure(std::uint32_t baud) {
  HANDLE handle = impl_->handle;
  if (handle == INVALID_HANDLE_VALUE) return false;

  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  GetCommState(handle, &dcb);
  dcb.BaudRate = baud;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  SetCommState(handle, &dcb);  // a partly applied setting still leaves a usable port

  // No read time-outs: a read completes when it has what it asked for. Read()
  // asks for one byte to wait, and then only for what the driver holds.
  COMMTIMEOUTS timeouts{};
  GetCommTimeouts(handle, &timeouts);
  timeouts.ReadIntervalTimeout = 0;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = 1000;
  SetCommTimeouts(handle, &timeouts);

  SetupComm(handle, 1024, 1024);
  return PurgeComm(handle, PURGE_TXCLEAR | PURGE_RXCLEAR) != FALSE;
}

ReadResult SerialPort::Read(std::uint8_t* buffer, std::size_t capacity, int timeoutMs) {
  Impl& p = *impl_;
  if (p.handle == INVALID_HANDLE_VALUE) return {ReadStatus::HungUp, 0};
  if (capacity == 0) return {ReadStatus::Data, 0};
  const bool bounded = timeoutMs >= 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(bounded ? timeoutMs : 0);
  for (;;) {
    if (!p.readPending) {
      std::size_t got = 0;
      if (!p.TakeQueued(buffer, capacity, &got)) return {ReadStatus::HungUp, 0};
      if (got > 0) return {ReadStatus::Data, got};
      // Nothing there: a one-byte read that completes when a byte arrives.
      p.readOp = OVERLAPPED{};
      p.readOp.hEvent = p.readDone;
      ResetEvent(p.readDone);
      if (!ReadFile(p.handle, &p.firstByte, 1, nullptr, &p.readOp) && GetLastError() != ERROR_IO_PENDING) {
        return {ReadStatus::HungUp, 0};
      }
      p.readPending = true;
    }
    const HANDLE events[2] = {p.readDone, p.cancelRead};
    const DWORD woke = WaitForMultipleObjects(2, events, FALSE, RemainingMs(bounded, deadline));
    if (woke == WAIT_TIMEOUT) return {ReadStatus::Timeout, 0};
    if (woke == WAIT_OBJECT_0 + 1) return {ReadStatus::Cancelled, 0};
    if (woke != WAIT_OBJECT_0) return {ReadStatus::HungUp, 0};
    p.readPending = false;
    DWORD n = 0;
    // A failure here (the device removed, a broken pipe under wine) is a hang-up.
    if (!GetOverlappedResult(p.handle, &p.readOp, &n, FALSE)) return {ReadStatus::HungUp, 0};
    if (n == 0) {
      // Completed with nothing: wait again within the same deadline.
      if (bounded && Clock::now() >= deadline) return {ReadStatus::Timeout, 0};
      continue;
    }
    buffer[0] = p.firstByte;
    std::size_t more = 0;
    // A device that goes in between: the byte already taken is still handed on,
    // and the next Read reports the hang-up.
    p.TakeQueued(buffer + 1, capacity - 1, &more);
    return {ReadStatus::Data, 1 + more};
  }
}

std::size_t SerialPort::Write(const std::uint8_t* data, std::size_t count, int timeoutMs) {
  Impl& p = *impl_;
  if (p.handle == INVALID_HANDLE_VALUE) return 0;
  const bool bounded = timeoutMs >= 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(bounded ? timeoutMs : 0);
  std::size_t done = 0;
  while (done < count && !p.writesCancelled.load()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count - done, MAXDWORD));
    p.writeOp = OVERLAPPED{};
    p.writeOp.hEvent = p.writeDone;
    ResetEvent(p.writeDone);
    DWORD written = 0;
    // Each WriteFile is itself bounded by the 1000 ms write time-out set in Configure.
    if (!WriteFile(p.handle, data + done, chunk, nullptr, &p.writeOp)) {
      if (GetLastError() != ERROR_IO_PENDING) break;
      const HANDLE events[2] = {p.writeDone, p.stopWrites};
      if (WaitForMultipleObjects(2, events, FALSE, RemainingMs(bounded, deadline)) != WAIT_OBJECT_0) {
        CancelIoEx(p.handle, &p.writeOp);  // stopped or out of time: what went out so far counts
      }
    }
    GetOverlappedResult(p.handle, &p.writeOp, &written, TRUE);
    done += written;
    if (written == 0) break;  // the driver's time-out passed with nothing taken
    if (bounded && Clock::now() >= deadline) break;
  }
  return done;
}

void SerialPort::CancelRead() { SetEvent(impl_->cancelRead); }

void SerialPort::CancelWrites() {
  impl_->writesCancelled.store(true);
  SetEvent(impl_->stopWrites);
  // Also ends a WriteFile that is waiting for the driver to take its bytes.
  if (impl_->handle != INVALID_HANDLE_VALUE) PurgeComm(impl_->handle, PURGE_TXABORT | PURGE_TXCLEAR);
}

void SerialPort::Close() {
  impl_->writesCancelled.store(false);
  ResetEvent(impl_->stopWrites);
  if (impl_->handle == INVALID_HANDLE_VALUE) return;
  // The pending read writes into this object: it must have settled before the handle goes.
  impl_->SettlePendingRead();
  CloseHandle(impl_->handle);
  impl_->handle = INVALID_HANDLE_VALUE;
  impl_->name.clear();
}

}  // namespace varnel
