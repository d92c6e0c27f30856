// The shipped program's side of framework/Seams.h: every modal is shown, the
// wall clock is the system's, and every enumerated port is listed.
#include <ctime>

#include "framework/Seams.h"

namespace fw::seams {

std::optional<ModalAnswer> AnswerWithoutShowing(const ModalRequest&) { return std::nullopt; }

double WallClockSeconds() {
  timespec wall{};
  clock_gettime(CLOCK_REALTIME, &wall);
  return static_cast<double>(wall.tv_sec) + static_cast<double>(wall.tv_nsec) / 1e9;
}

bool PlatformSerialPortsListed() { return true; }

}  // namespace fw::seams
