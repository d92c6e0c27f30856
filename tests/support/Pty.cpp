#include "support/Pty.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace tptest {

Pty::Pty(Line line) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) throw std::runtime_error("no pseudo-terminal");
  char name[128];
  if (ptsname_r(master_, name, sizeof name) != 0) throw std::runtime_error("ptsname failed");
  slavePath_ = name;
  if (line == Line::LeftToTheOpener) return;
  slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0) throw std::runtime_error("cannot open " + slavePath_);
  termios t{};
  tcgetattr(slave_, &t);
  cfmakeraw(&t);
  cfsetispeed(&t, B19200);
  cfsetospeed(&t, B19200);
  tcsetattr(slave_, TCSANOW, &t);
  tcgetattr(master_, &t);
  cfmakeraw(&t);
  tcsetattr(master_, TCSANOW, &t);
}

Pty::~Pty() { Vanish(); }

bool Pty::Raw() const {
  termios t{};
  if (tcgetattr(master_, &t) != 0) return false;
  return !(t.c_lflag & ICANON) && !(t.c_iflag & (ICRNL | INLCR | IGNCR)) && !(t.c_lflag & ECHO);
}

int Pty::Unread() const {
  int n = 0;
  return slave_ >= 0 && ioctl(slave_, FIONREAD, &n) == 0 ? n : 0;
}

bool Pty::Write(std::string_view data) {
  size_t off = 0;
  while (off < data.size()) {
    ssize_t n = write(master_, data.data() + off, data.size() - off);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      pollfd p{master_, POLLOUT, 0};
      poll(&p, 1, 50);
      continue;
    }
    if (n <= 0) return false;
    off += static_cast<size_t>(n);
    Drain();
  }
  tcdrain(master_);
  return true;
}

size_t Pty::WriteSome(std::string_view data) {
  int fl = fcntl(master_, F_GETFL);
  fcntl(master_, F_SETFL, fl | O_NONBLOCK);
  ssize_t n = write(master_, data.data(), data.size());
  fcntl(master_, F_SETFL, fl);
  Drain();
  return n > 0 ? static_cast<size_t>(n) : 0;
}

void Pty::Drain() {
  char buf[4096];
  for (;;) {
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN)) return;
    if (read(master_, buf, sizeof buf) <= 0) return;
  }
}

void Pty::Vanish() {
  if (slave_ >= 0) close(slave_);
  if (master_ >= 0) close(master_);
  slave_ = master_ = -1;
}

}  // namespace tptest
