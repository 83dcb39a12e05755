#pragma once
// One serial device, opened exclusively, raw 8N1.
// POSIX (termios) and Win32 implementations live beside this file; CMake picks one.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace varnel {

enum class ReadStatus {
  Data,       // count bytes were read
  Timeout,    // nothing arrived within the wait
  HungUp,     // the device went away or reported an error: stop reading, reopen later
  Cancelled,  // CancelRead() woke the wait
};

struct ReadResult {
  ReadStatus status;
  std::size_t count;
};

class SerialPort {
 public:
  SerialPort();
  ~SerialPort();  // closes the device if it is open
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opens an existing device for reading and writing with no sharing. On Windows
  // the name is a port name such as COM3 (opened through the \\.\ prefix); on
  // POSIX it is the device path. On failure, *reason receives the system's words.
  bool Open(const std::string& name, std::string* reason);
  bool IsOpen() const;
  const std::string& Name() const;

  // 8 data bits, no parity, 1 stop bit at the given baud; reads return at once
  // with what is buffered; both queues are purged afterwards. Answers the purge's result.
  bool Configure(std::uint32_t baud);

  // Waits up to timeoutMs (negative: without limit) for input, then reads what is there.
  ReadResult Read(std::uint8_t* buffer, std::size_t capacity, int timeoutMs);
  // Writes all bytes, continuing short writes, until done or timeoutMs has passed.
  // Answers the number of bytes written.
  std::size_t Write(const std::uint8_t* data, std::size_t count, int timeoutMs);
  // Wakes a Read that waits on another thread; that Read answers Cancelled.
  void CancelRead();
  // Makes a Write in progress on another thread give up at once, and every
  // later Write write nothing, until Close(). For stopping: the port may be
  // taking nothing at all.
  void CancelWrites();
  void Close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace varnel
