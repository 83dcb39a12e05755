// Win32 implementation of SerialPort.
//
// The handle is opened for ordinary synchronous I/O. Reads are set to return
// at once with whatever the driver holds (interval time-out MAXDWORD, totals 0),
// so a read never blocks a writer on the same handle; Read() waits by retrying
// an empty read after a 1 ms pause, up to its time-out or a CancelRead().
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

}  // namespace

struct SerialPort::Impl {
  HANDLE handle = INVALID_HANDLE_VALUE;  // written by Open/Close, which never run while a Read or Write does
  std::string name;                      // same owner as handle
  std::atomic<bool> cancel{false};       // set by CancelRead on any thread, taken by Read
  std::atomic<bool> writesCancelled{false};  // set by CancelWrites on any thread, cleared by Close
};

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
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr);
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

  COMMTIMEOUTS timeouts{};
  GetCommTimeouts(handle, &timeouts);
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = 1000;
  SetCommTimeouts(handle, &timeouts);

  SetupComm(handle, 1024, 1024);
  return PurgeComm(handle, PURGE_TXCLEAR | PURGE_RXCLEAR) != FALSE;
}

ReadResult SerialPort::Read(std::uint8_t* buffer, std::size_t capacity, int timeoutMs) {
  HANDLE handle = impl_->handle;
  if (handle == INVALID_HANDLE_VALUE) return {ReadStatus::HungUp, 0};
  const bool bounded = timeoutMs >= 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(bounded ? timeoutMs : 0);
  const DWORD want = static_cast<DWORD>(std::min<std::size_t>(capacity, MAXDWORD));
  for (;;) {
    if (impl_->cancel.exchange(false)) return {ReadStatus::Cancelled, 0};
    DWORD got = 0;
    if (!ReadFile(handle, buffer, want, &got, nullptr)) return {ReadStatus::HungUp, 0};
    if (got > 0) return {ReadStatus::Data, static_cast<std::size_t>(got)};
    if (bounded && Clock::now() >= deadline) return {ReadStatus::Timeout, 0};
    // An empty read returned at once: pause before asking again. The pause is
    // one scheduler tick at most, and the loop ends at the deadline.
    Sleep(1);
  }
}

std::size_t SerialPort::Write(const std::uint8_t* data, std::size_t count, int timeoutMs) {
  HANDLE handle = impl_->handle;
  if (handle == INVALID_HANDLE_VALUE) return 0;
  const bool bounded = timeoutMs >= 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(bounded ? timeoutMs : 0);
  std::size_t done = 0;
  while (done < count && !impl_->writesCancelled.load()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count - done, MAXDWORD));
    DWORD written = 0;
    // Each WriteFile is itself bounded by the 1000 ms write time-out set in Configure.
    if (!WriteFile(handle, data + done, chunk, &written, nullptr)) break;
    done += written;
    if (written == 0) break;  // the driver's time-out passed with nothing taken
    if (bounded && Clock::now() >= deadline) break;
  }
  return done;
}

void SerialPort::CancelRead() { impl_->cancel.store(true); }

void SerialPort::CancelWrites() {
  impl_->writesCancelled.store(true);
  // Ends a WriteFile that is waiting for the driver to take its bytes.
  if (impl_->handle != INVALID_HANDLE_VALUE) PurgeComm(impl_->handle, PURGE_TXABORT | PURGE_TXCLEAR);
}

void SerialPort::Close() {
  impl_->writesCancelled.store(false);
  if (impl_->handle == INVALID_HANDLE_VALUE) return;
  CloseHandle(impl_->handle);
  impl_->handle = INVALID_HANDLE_VALUE;
  impl_->name.clear();
}

}  // namespace varnel
