#include "framework/system/FileMode.h"

#include <sys/stat.h>

#include <cstdio>

namespace fw::detail {

mode_t NewFileMode() {
  static const mode_t mode = [] {
    unsigned mask = 0;
    bool known = false;
    if (FILE* f = std::fopen("/proc/self/status", "re")) {
      char line[128];
      while (!known && std::fgets(line, sizeof line, f)) known = std::sscanf(line, "Umask: %o", &mask) == 1;
      std::fclose(f);
    }
    if (!known) {
      mask = ::umask(022);
      ::umask(static_cast<mode_t>(mask));
    }
    return static_cast<mode_t>(0666 & ~mask);
  }();
  return mode;
}

}  // namespace fw::detail
