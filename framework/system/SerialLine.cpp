#include "framework/system/SerialLine.h"

// Only the kernel's own termios definitions here: termios2 and BOTHER.
#include <asm/termbits.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>

namespace fw::detail {

namespace {

// Rates with a classic constant keep it, so that every tool reading the line
// sees the familiar value; the others go through BOTHER.
unsigned RateCode(unsigned baud) {
  switch (baud) {
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    default: return BOTHER;
  }
}

unsigned SizeFlag(int dataBits) {
  switch (dataBits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
  }
}

}  // namespace

int ApplyLineSettings(int fd, const LineSettings& s) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return errno;

  // Raw input: every byte reaches the program as it came off the line.
  // Parity is generated and expected but not checked (INPCK off), so a byte
  // with a parity error is still delivered rather than turned into a NUL.
  t.c_iflag &= ~static_cast<tcflag_t>(BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY |
                                       INPCK | IUCLC | IMAXBEL);
  t.c_iflag |= IGNBRK;  // a line break would otherwise read as a NUL
  if (s.xonXoff) t.c_iflag |= IXON | IXOFF;
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);

  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD |
                                       (CBAUD << IBSHIFT));
  // CLOCAL: a missing carrier must neither block nor hang up the line.
  t.c_cflag |= CREAD | CLOCAL | SizeFlag(s.dataBits);
  if (s.parity != LineParity::None) t.c_cflag |= PARENB;
  if (s.parity == LineParity::Odd) t.c_cflag |= PARODD;
  if (s.stopBits >= 2) t.c_cflag |= CSTOPB;
  if (s.rtsCts) t.c_cflag |= CRTSCTS;
  const unsigned code = RateCode(s.baud);
  t.c_cflag |= code | (code << IBSHIFT);
  t.c_ispeed = s.baud;
  t.c_ospeed = s.baud;

  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;

  if (ioctl(fd, TCSETS2, &t) != 0) return errno;
  return 0;
}

int SetDtr(int fd, bool on) {
  int bits = TIOCM_DTR;
  if (ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits) != 0) return errno;
  return 0;
}

bool IsPseudoTerminal(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  // Unix98 pty slaves use majors 136..143; legacy BSD pty slaves major 3.
  const unsigned m = major(st.st_rdev);
  return (m >= 136 && m <= 143) || m == 3;
}

}  // namespace fw::detail
