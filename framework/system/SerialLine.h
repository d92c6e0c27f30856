#pragma once
// Line settings applied straight to a tty descriptor. Kept apart from the
// rest because the kernel's arbitrary-rate interface (<asm/termbits.h>)
// cannot share a translation unit with <termios.h>.

namespace fw::detail {

enum class LineParity { None, Odd, Even };

struct LineSettings {
  unsigned baud = 9600;
  int dataBits = 8;  // 5..8
  LineParity parity = LineParity::None;
  int stopBits = 1;  // 1 or 2
  bool rtsCts = false;
  bool xonXoff = false;
};

// Puts the tty into raw mode with these settings, the rate set exactly even
// where no classic Bnnn constant exists. Returns 0 or an errno value.
int ApplyLineSettings(int fd, const LineSettings& s);

// Raises (on) or lowers DTR. Returns 0 or an errno value.
int SetDtr(int fd, bool on);

// True for the slave side of a pseudo-terminal, which has no modem lines.
bool IsPseudoTerminal(int fd);

}  // namespace fw::detail
