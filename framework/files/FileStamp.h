#pragma once
// Which version of a file or folder stat describes, and the clock its
// timestamps follow: what a folder's listing and a held first line are
// checked against where no change event says they went stale.
#include <sys/stat.h>

#include <cstdint>
#include <ctime>

namespace fw::detail {

inline std::int64_t Ns(const timespec& t) { return std::int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec; }

// The wall clock that file timestamps follow.
inline std::int64_t NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return Ns(ts);
}

// Timestamps move in steps of the kernel's clock tick (up to 10 ms): a change
// within the same step as a reading may leave the stat as it was.
constexpr std::int64_t kTimestampStepNs = 20'000'000;

// Identity and version of a file or folder as stat reports it. The change
// time moves on every write, rename and change of permissions.
struct FileStamp {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  std::int64_t mtimeNs = 0, ctimeNs = 0;
  static FileStamp Of(const struct stat& st) {
    return FileStamp{st.st_dev, st.st_ino, st.st_size, Ns(st.st_mtim), Ns(st.st_ctim)};
  }
  friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

}  // namespace fw::detail
