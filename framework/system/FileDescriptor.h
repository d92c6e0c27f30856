#pragma once
// A file descriptor that closes itself: no failure path has to remember.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace fw::detail {

class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { Reset(); }
  FileDescriptor(FileDescriptor&& o) noexcept : fd_(o.Release()) {}
  FileDescriptor& operator=(FileDescriptor&& o) noexcept {
    if (this != &o) Reset(o.Release());
    return *this;
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  // open(2) and openat(2); invalid, with errno set, when they fail.
  static FileDescriptor Open(const char* path, int flags, mode_t mode = 0) {
    return FileDescriptor(::open(path, flags, mode));
  }
  static FileDescriptor OpenAt(int folder, const char* name, int flags, mode_t mode = 0) {
    return FileDescriptor(::openat(folder, name, flags, mode));
  }

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  explicit operator bool() const { return Valid(); }

  // Gives the descriptor up without closing it.
  int Release() { return std::exchange(fd_, -1); }

  // Closes what it held (keeping errno, which the caller may still be
  // reporting) and takes fd in its place.
  void Reset(int fd = -1) {
    if (fd_ >= 0) {
      const int saved = errno;
      ::close(fd_);
      errno = saved;
    }
    fd_ = fd;
  }

  // Closes now and tells whether the close itself succeeded (errno set when
  // not): for a written file, where a failed close can be a lost write.
  bool Close() {
    if (fd_ < 0) return true;
    return ::close(std::exchange(fd_, -1)) == 0;
  }

 private:
  int fd_ = -1;
};

}  // namespace fw::detail
