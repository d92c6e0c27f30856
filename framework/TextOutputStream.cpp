#include "framework/TextOutputStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>

#include "framework/qt/StreamBackings.h"

namespace fw {

namespace {
constexpr std::size_t kSpillAt = 1u << 20;

bool WriteAll(int fd, const char* p, std::size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

// Some file systems refuse fsync on a folder; that is not a lost write.
bool SyncFolder(const String& folder) {
  int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd < 0) return false;
  int rc = ::fsync(dfd);
  int err = errno;
  ::close(dfd);
  if (rc == 0 || err == EINVAL || err == ENOTSUP) return true;
  errno = err;
  return false;
}
}  // namespace

TextOutputStream::Backing::~Backing() { Discard(); }

void TextOutputStream::Backing::Fail(const char* step) {
  if (error) return;
  error = errno ? errno : EIO;
  failedStep = step;
}

bool TextOutputStream::Backing::OpenTemp() {
  static std::mt19937_64 rng{std::random_device{}()};
  for (int attempt = 0; attempt < 100; ++attempt) {
    String candidate = folder + "/.tp-" + std::to_string(::getpid()) + "-" + std::to_string(rng() % 1000000000) +
                       ".tmp";
    fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      tempPath = candidate;
      return true;
    }
    if (errno != EEXIST) break;
  }
  Fail("create a temporary file");
  return false;
}

bool TextOutputStream::Backing::WritePending() {
  if (error) return false;
  if (fd < 0 && !OpenTemp()) return false;
  if (!WriteAll(fd, pending.data(), pending.size())) {
    Fail("write");
    return false;
  }
  pending.clear();
  return true;
}

void TextOutputStream::Backing::Append(const String& s) {
  if (closed) throw IOException("write to " + folder + "/" + name + " after it was closed");
  pending += s;
  if (wholeValid) {
    // The folder's cache holds the first line: keep until it has ended and
    // two bytes after, enough to tell CR LF and whether more follows.
    std::size_t from = whole.size();
    whole += s;
    if (lineEndAt == String::npos) lineEndAt = whole.find_first_of("\r\n", from);
    if (lineEndAt != String::npos && whole.size() >= lineEndAt + 3) {
      whole.resize(lineEndAt + 3);
      wholeValid = false;
      firstLineKnown = true;
    }
  }
  if (pending.size() >= kSpillAt && !WritePending()) pending.clear();  // the failure is raised by Close
}

void TextOutputStream::Backing::Discard() {
  if (fd >= 0) ::close(fd);
  fd = -1;
  if (!tempPath.empty()) ::unlink(tempPath.c_str());
  tempPath.clear();
  pending.clear();
}

void TextOutputStream::Backing::Commit() {
  closed = true;
  String target = folder + "/" + name;
  bool wasCurrent = listing->BeginOwnChange();
  WritePending();
  if (!error) {
    // Best effort: the name rule still holds where the file system keeps no attributes.
    ::fsetxattr(fd, detail::kMacTypeAttribute, "TEXT", 4, 0);
    if (::fsync(fd) != 0) Fail("sync");
  }
  struct stat before {};
  bool existed = ::lstat(target.c_str(), &before) == 0;
  if (!error && ::rename(tempPath.c_str(), target.c_str()) != 0) Fail("rename the temporary file over");
  if (error) {
    Discard();
    listing->OwnTouched(wasCurrent);
    throw IOException("cannot " + failedStep + " " + target + ": " + std::strerror(error));
  }
  tempPath.clear();
  struct stat st {};
  bool haveStat = ::fstat(fd, &st) == 0;
  ::close(fd);
  fd = -1;
  if (!SyncFolder(folder)) {
    int err = errno;
    // A new file that may not survive a power cut must not count as written.
    if (!existed) {
      ::unlink(target.c_str());
      SyncFolder(folder);
    }
    listing->OwnRemoved(false, name);
    throw IOException("cannot sync folder " + folder + " after writing " + name + ": " + std::strerror(err));
  }
  listing->OwnAdded(wasCurrent, name, detail::FolderListing::File, true);
  if (haveStat && (wholeValid || firstLineKnown)) listing->RememberFirstLine(name, whole);
}

TextOutputStream::TextOutputStream(std::unique_ptr<Backing> b) : b_(std::move(b)) {}
TextOutputStream::~TextOutputStream() = default;

void TextOutputStream::Write(const String& s) { b_->Append(s); }
void TextOutputStream::WriteLine(const String& s) { b_->Append(s + "\n"); }

void TextOutputStream::Close() {
  if (b_->closed) return;
  b_->Commit();
}

}  // namespace fw
