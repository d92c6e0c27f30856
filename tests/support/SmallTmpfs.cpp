#include "support/SmallTmpfs.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>

namespace tptest {

SmallTmpfs::SmallTmpfs(std::string path) : path_(std::move(path)) {
  if (mount("tmpfs", path_.c_str(), "tmpfs", 0, "size=256k,mode=0755") != 0) error_ = errno;
}

SmallTmpfs::~SmallTmpfs() {
  if (mounted()) umount2(path_.c_str(), MNT_DETACH);
}

bool SmallTmpfs::FillUp(const std::string& file) const {
  int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  std::string block(4096, 'x');
  for (int i = 0; i < 1000; ++i)
    if (write(fd, block.data(), block.size()) <= 0) break;
  for (int i = 0; i < 4096; ++i)
    if (write(fd, "x", 1) <= 0) break;
  close(fd);
  return true;
}

}  // namespace tptest
