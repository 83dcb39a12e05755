#pragma once
// The pseudo-terminal the simulated sensor serves. The sensor reads and writes
// the master side; the tool under test opens the slave side as its serial port.
// The slave starts in raw mode so whatever the tool configures is all there is.
// The sensor keeps a slave descriptor of its own open, so the master never
// reports a hang-up while the tool has its port closed.
#include <string>

namespace varnel::sim {

class PseudoTerminal {
 public:
  PseudoTerminal() = default;
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  bool Open(std::string* problem);
  // Closes the master: whoever has the slave open sees a hang-up. The slave
  // descriptor of our own is kept until ReleaseSlave, so that a pseudo-terminal
  // opened meanwhile cannot get the same number.
  void CloseMaster();
  void ReleaseSlave();
  void Close() {
    CloseMaster();
    ReleaseSlave();
  }

  bool IsOpen() const { return master_ >= 0; }
  int master() const { return master_; }  // non-blocking
  const std::string& slavePath() const { return slavePath_; }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
};

}  // namespace varnel::sim
