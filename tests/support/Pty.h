#pragma once
// A pseudo-terminal standing in for the serial line: the test plays the far
// end on the master, the program opens the slave. No <termios.h> here, so a
// test may use the kernel's own termios2.
#include <cstddef>
#include <string>
#include <string_view>

#include "support/NotCopied.h"

namespace tptest {

class Pty : NotCopied {
 public:
  enum class Line {
    // The slave is put in raw mode at once and kept open by us, so that bytes
    // written before the program opens it are not cooked by the line discipline.
    RawAndHeld,
    // The slave is left as the kernel makes it, for the opener to set up.
    LeftToTheOpener,
  };
  explicit Pty(Line line = Line::RawAndHeld);
  ~Pty();

  const std::string& slavePath() const { return slavePath_; }
  // True once someone put the line into raw mode: before that the line
  // discipline would turn CR into LF and the test would not send what it means.
  bool Raw() const;
  // Bytes written to the line that the program has not read yet (RawAndHeld).
  int Unread() const;

  // Writes all of data; false when the line is gone.
  bool Write(std::string_view data);
  // Writes what fits now without blocking; returns the count written.
  size_t WriteSome(std::string_view data);
  // The device goes away, as an unplugged adapter would.
  void Vanish();

 private:
  // Discards whatever the far side wrote back (flow-control characters).
  void Drain();

  int master_ = -1, slave_ = -1;
  std::string slavePath_;
};

}  // namespace tptest
