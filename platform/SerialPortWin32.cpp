// Win32 implementation of SerialPort.
//
// The handle is opened for overlapped I/O, so a read waiting for input never
// holds up a write on another thread. The read time-outs say "return at once
// with what the driver holds", so one ReadFile takes every byte that is there.
// When nothing is there, Windows completes that read empty and the wait is a
// WaitCommEvent for the next received character; wine instead keeps the read
// pending until bytes come and then completes it with all of them. Either
// operation is waited for in WaitForMultipleObjects beside the event
// CancelRead() signals. An operation still pending when a wait times out is
// picked up by the next Read, and a read always lands in the port's own
// buffer, so no byte is lost or reordered; Close() cancels what is pending.
// A write waits for its overlapped WriteFile beside the event CancelWrites() signals.
//
// Under wine every overlapped call and every completion is a round trip to its
// server, and a reply paced at the line's speed wakes the reader about once per
// byte, so each wake does as little as it can: no ClearCommError to size a
// read, no event reset that ReadFile and WriteFile do themselves.
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
        commEventDone(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        writeDone(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        cancelRead(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
        stopWrites(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~Impl() {
    for (HANDLE event : {readDone, commEventDone, writeDone, cancelRead, stopWrites})
      if (event) CloseHandle(event);
  }

  enum class Started { Done, Pending, Failed };
  // Starts a read of what the driver holds into the inbox; Done leaves the
  // count in inboxEnd (possibly zero).
  Started StartRead();
  // Starts a wait for the next received character.
  Started StartCommWait();
  // Copies what the inbox holds into buffer; the rest stays for the next Read.
  std::size_t HandOut(std::uint8_t* buffer, std::size_t capacity);
  // A failed read: a line error that aborted it (the driver's abort-on-error
  // setting) is cleared and the read tried again; anything else is the device gone.
  bool RecoverFromReadError(DWORD error);
  // Cancels whatever read or wait is pending and waits until it has settled
  // (a read may have taken bytes first; they go with the handle being closed).
  void SettlePending();

  HANDLE handle = INVALID_HANDLE_VALUE;  // written by Open/Close, which never run while a Read or Write does
  std::string name;                      // same owner as handle
  // The pending read or wait and the bytes a read brought in: the reading
  // thread's (Read, and Close, which never runs while a Read does).
  static constexpr std::size_t kInboxSize = 4096;
  std::uint8_t inbox[kInboxSize];
  std::size_t inboxBegin = 0;  // bytes before this were handed out
  std::size_t inboxEnd = 0;    // bytes the last read brought in
  OVERLAPPED readOp{};
  bool readPending = false;
  OVERLAPPED commEventOp{};
  DWORD commEvents = 0;  // written by the pending wait
  bool commEventPending = false;
  OVERLAPPED writeOp{};  // the writing thread's; the link writes under its port lock, one at a time
  // Created once, never changed; signalled from any thread.
  const HANDLE readDone;       // manual reset, the overlapped read's event
  const HANDLE commEventDone;  // manual reset, the character wait's event
  const HANDLE writeDone;      // manual reset, the overlapped write's event
  const HANDLE cancelRead;     // auto reset: one CancelRead wakes one wait (or the next, if none waits)
  const HANDLE stopWrites;     // manual reset: set by CancelWrites, reset by Close
  std::atomic<bool> writesCancelled{false};  // set by CancelWrites on any thread, cleared by Close
};

SerialPort::Impl::Started SerialPort::Impl::StartRead() {
  inboxBegin = inboxEnd = 0;
  // ReadFile resets the event as it starts, and sets it when it completes, at once or later.
  readOp = OVERLAPPED{};
  readOp.hEvent = readDone;
  if (!ReadFile(handle, inbox, static_cast<DWORD>(kInboxSize), nullptr, &readOp)) {
    return GetLastError() == ERROR_IO_PENDING ? Started::Pending : Started::Failed;
  }
  // Done at once: the count comes from the operation, as for one that was pending.
  DWORD n = 0;
  if (!GetOverlappedResult(handle, &readOp, &n, FALSE)) return Started::Failed;
  inboxEnd = n;
  return Started::Done;
}

SerialPort::Impl::Started SerialPort::Impl::StartCommWait() {
  commEventOp = OVERLAPPED{};
  commEventOp.hEvent = commEventDone;
  commEvents = 0;
  // A character that came after the empty read is remembered by the driver
  // and completes this wait at once.
  if (WaitCommEvent(handle, &commEvents, &commEventOp)) return Started::Done;
  if (GetLastError() == ERROR_IO_PENDING) return Started::Pending;
  return Started::Failed;
}

std::size_t SerialPort::Impl::HandOut(std::uint8_t* buffer, std::size_t capacity) {
  const std::size_t n = std::min(capacity, inboxEnd - inboxBegin);
  std::copy(inbox + inboxBegin, inbox + inboxBegin + n, buffer);
  inboxBegin += n;
  return n;
}

bool SerialPort::Impl::RecoverFromReadError(DWORD error) {
  DWORD errors = 0;
  return error == ERROR_OPERATION_ABORTED && ClearCommError(handle, &errors, nullptr) && errors != 0;
}

void SerialPort::Impl::SettlePending() {
  DWORD n = 0;
  if (readPending) {
    readPending = false;
    CancelIoEx(handle, &readOp);
    GetOverlappedResult(handle, &readOp, &n, TRUE);
  }
  if (commEventPending) {
    commEventPending = false;
    SetCommMask(handle, 0);  // ends a pending wait for characters
    CancelIoEx(handle, &commEventOp);
    GetOverlappedResult(handle, &commEventOp, &n, TRUE);
  }
  inboxBegin = inboxEnd = 0;
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

  // A read returns at once with what the driver holds, possibly nothing;
  // Read() waits for the next character with WaitCommEvent when it is nothing.
  COMMTIMEOUTS timeouts{};
  GetCommTimeouts(handle, &timeouts);
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = 1000;
  SetCommTimeouts(handle, &timeouts);
  SetCommMask(handle, EV_RXCHAR);

  SetupComm(handle, 1024, 1024);
  return PurgeComm(handle, PURGE_TXCLEAR | PURGE_RXCLEAR) != FALSE;
}

ReadResult SerialPort::Read(std::uint8_t* buffer, std::size_t capacity, int timeoutMs) {
  Impl& p = *impl_;
  if (p.handle == INVALID_HANDLE_VALUE) return {ReadStatus::HungUp, 0};
  if (capacity == 0) return {ReadStatus::Data, 0};
  if (p.inboxBegin < p.inboxEnd) return {ReadStatus::Data, p.HandOut(buffer, capacity)};
  const bool bounded = timeoutMs >= 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(bounded ? timeoutMs : 0);
  for (;;) {
    if (!p.readPending && !p.commEventPending) {
      switch (p.StartRead()) {
        case Impl::Started::Failed:
          if (p.RecoverFromReadError(GetLastError())) continue;
          return {ReadStatus::HungUp, 0};
        case Impl::Started::Pending:
          p.readPending = true;
          break;
        case Impl::Started::Done:
          if (p.inboxEnd > 0) return {ReadStatus::Data, p.HandOut(buffer, capacity)};
          // Nothing there: wait for the next character, then read again.
          switch (p.StartCommWait()) {
            case Impl::Started::Failed:
              return {ReadStatus::HungUp, 0};
            case Impl::Started::Pending:
              p.commEventPending = true;
              break;
            case Impl::Started::Done:
              if (bounded && Clock::now() >= deadline) return {ReadStatus::Timeout, 0};
              continue;
          }
          break;
      }
    }
    const HANDLE events[2] = {p.readPending ? p.readDone : p.commEventDone, p.cancelRead};
    const DWORD woke = WaitForMultipleObjects(2, events, FALSE, RemainingMs(bounded, deadline));
    if (woke == WAIT_TIMEOUT) return {ReadStatus::Timeout, 0};
    if (woke == WAIT_OBJECT_0 + 1) return {ReadStatus::Cancelled, 0};
    if (woke != WAIT_OBJECT_0) return {ReadStatus::HungUp, 0};
    DWORD n = 0;
    if (p.readPending) {
      p.readPending = false;
      // A failure here (the device removed, a broken pipe under wine) is a hang-up.
      if (!GetOverlappedResult(p.handle, &p.readOp, &n, FALSE)) {
        if (p.RecoverFromReadError(GetLastError())) continue;
        return {ReadStatus::HungUp, 0};
      }
      p.inboxEnd = n;
      if (n > 0) return {ReadStatus::Data, p.HandOut(buffer, capacity)};
    } else {
      p.commEventPending = false;
      if (!GetOverlappedResult(p.handle, &p.commEventOp, &n, FALSE)) return {ReadStatus::HungUp, 0};
    }
    // A read that came back empty, or a character to fetch: read again within the same deadline.
    if (bounded && Clock::now() >= deadline) return {ReadStatus::Timeout, 0};
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
    // WriteFile resets the event as it starts.
    p.writeOp = OVERLAPPED{};
    p.writeOp.hEvent = p.writeDone;
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
  // The pending read or wait writes into this object: it must have settled before the handle goes.
  impl_->SettlePending();
  CloseHandle(impl_->handle);
  impl_->handle = INVALID_HANDLE_VALUE;
  impl_->name.clear();
}

}  // namespace varnel
