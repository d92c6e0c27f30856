#include "framework/system/Notice.h"

#include <unistd.h>

#include <cerrno>

namespace fw::detail {

void Notice(const String& text) {
  const String line = "TallyPoint: " + text + "\n";
  const char* p = line.data();
  std::size_t left = line.size();
  while (left > 0) {
    ssize_t n = ::write(STDERR_FILENO, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

}  // namespace fw::detail
