#include "sim/tool/PseudoTerminal.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

namespace varnel::sim {

PseudoTerminal::~PseudoTerminal() { Close(); }

bool PseudoTerminal::Open(std::string* problem) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0) {
    *problem = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
    return false;
  }
  char name[256] = {};
  bool named = false;
#if defined(__linux__)
  named = ::grantpt(master) == 0 && ::unlockpt(master) == 0 && ::ptsname_r(master, name, sizeof name) == 0;
#else
  if (::grantpt(master) == 0 && ::unlockpt(master) == 0) {
    const char* p = ::ptsname(master);  // called on one thread only
    if (p && std::strlen(p) < sizeof name) {
      std::strcpy(name, p);
      named = true;
    }
  }
#endif
  if (!named) {
    *problem = std::string("cannot prepare the pseudo-terminal: ") + std::strerror(errno);
    ::close(master);
    return false;
  }
  const int slave = ::open(name, O_RDWR | O_NOCTTY);
  if (slave < 0) {
    *problem = std::string("cannot open '") + name + "': " + std::strerror(errno);
    ::close(master);
    return false;
  }
  struct termios tio {};
  if (::tcgetattr(slave, &tio) == 0) {
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    ::tcsetattr(slave, TCSANOW, &tio);
  }
  ::fcntl(master, F_SETFD, FD_CLOEXEC);
  ::fcntl(slave, F_SETFD, FD_CLOEXEC);
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

  // Any earlier pseudo-terminal goes only now, so the new one has another number.
  CloseMaster();
  ReleaseSlave();
  master_ = master;
  slave_ = slave;
  slavePath_ = name;
  return true;
}

void PseudoTerminal::CloseMaster() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

void PseudoTerminal::ReleaseSlave() {
  if (slave_ >= 0) ::close(slave_);
  slave_ = -1;
}

}  // namespace varnel::sim
