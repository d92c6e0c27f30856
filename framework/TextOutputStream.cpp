#include "framework/TextOutputStream.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>
#include <vector>

#include "framework/LineBreak.h"
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

SyncBatch::State* currentBatch = nullptr;
}  // namespace

struct SyncBatch::State {
  struct Folder {
    String path;
    int fd = -1;
  };
  struct Made {
    std::shared_ptr<detail::FolderListing> listing;
    String folder, name;
    bool replaced;
  };
  std::vector<Folder> folders;
  std::vector<Made> made;
  bool committed = false;

  ~State() {
    for (auto& f : folders)
      if (f.fd >= 0) ::close(f.fd);
  }

  // Opens the folder before a file's data is written to it: syncfs reports
  // the write-back errors of its file system since this open.
  bool Watch(const String& folder) {
    for (auto& f : folders)
      if (f.path == folder) return f.fd >= 0;
    int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    folders.push_back({folder, dfd});
    return dfd >= 0;
  }

  void Commit() {
    committed = true;
    int err = 0;
    String failedFolder;
    for (auto& f : folders) {
      if (f.fd < 0) continue;
      int rc = ::syncfs(f.fd);
      if (rc == 0) rc = ::fsync(f.fd) == 0 || errno == EINVAL || errno == ENOTSUP ? 0 : -1;
      if (rc != 0 && !err) {
        err = errno ? errno : EIO;
        failedFolder = f.path;
      }
    }
    if (!err) {
      made.clear();
      return;
    }
    // Files that may not survive a power cut must not count as written.
    std::size_t removed = 0;
    for (auto& m : made) {
      if (m.replaced) continue;
      bool wasCurrent = m.listing->BeginOwnChange();
      if (::unlink((m.folder + "/" + m.name).c_str()) == 0) ++removed;
      m.listing->OwnRemoved(wasCurrent, m.name);
    }
    for (auto& f : folders)
      if (f.fd >= 0) ::fsync(f.fd);
    made.clear();
    throw IOException("cannot sync " + failedFolder + " after writing files in it (" + std::to_string(removed) +
                      " removed again): " + std::strerror(err));
  }
};

SyncBatch::SyncBatch() {
  if (currentBatch) return;
  s_ = std::make_unique<State>();
  currentBatch = s_.get();
}

SyncBatch::~SyncBatch() {
  if (!s_) return;
  if (currentBatch == s_.get()) currentBatch = nullptr;
  if (s_->committed) return;
  try {
    s_->Commit();
  } catch (const std::exception&) {
    // Left without Commit (an exception on its way): the files are removed.
  }
}

void SyncBatch::Commit() {
  if (!s_ || s_->committed) return;
  currentBatch = nullptr;  // files closed after this are synced one by one again
  s_->Commit();
}

TextOutputStream::Backing::Backing(std::shared_ptr<detail::FolderListing> listing, String folder, String name)
    : listing(std::move(listing)), folder(std::move(folder)), name(std::move(name)) {
  struct stat st {};
  mayReplace = ::lstat((this->folder + "/" + this->name).c_str(), &st) == 0;
}

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
  // The folder's cache holds the first line: keep until it has ended and
  // two bytes after, enough to tell CR LF and whether more follows.
  if (lineEndAt == String::npos || whole.size() < lineEndAt + 3) {
    std::size_t from = whole.size();
    whole += s;
    if (lineEndAt == String::npos) lineEndAt = FindLineBreak(whole, from).at;
    if (lineEndAt != String::npos) whole.resize(std::min(whole.size(), lineEndAt + 3));
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

int TextOutputStream::Backing::Publish(const String& target) {
  if (mayReplace) return ::rename(tempPath.c_str(), target.c_str()) == 0 ? 0 : errno;
  if (::renameat2(AT_FDCWD, tempPath.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without RENAME_NOREPLACE: a hard link fails just as surely
  // when the name is taken.
  if (::link(tempPath.c_str(), target.c_str()) != 0) return errno;
  ::unlink(tempPath.c_str());
  return 0;
}

void TextOutputStream::Backing::Commit() {
  closed = true;
  String target = folder + "/" + name;
  bool wasCurrent = listing->BeginOwnChange();
  // A file spilled before the batch could watch its folder is synced alone.
  SyncBatch::State* batch = currentBatch && fd < 0 && currentBatch->Watch(folder) ? currentBatch : nullptr;
  WritePending();
  if (!error) {
    // Best effort: the name rule still holds where the file system keeps no attributes.
    ::fsetxattr(fd, detail::kMacTypeAttribute, "TEXT", 4, 0);
    if (!batch && ::fsync(fd) != 0) Fail("sync");
  }
  // Closed before it is published, so that the only change the folder's
  // watch reports under the new name is its arrival.
  if (fd >= 0) ::close(fd);
  fd = -1;
  struct stat before {};
  bool existed = ::lstat(target.c_str(), &before) == 0;
  bool taken = false;
  if (!error) {
    if (int err = Publish(target)) {
      errno = err;
      taken = err == EEXIST;
      Fail("rename the temporary file to");
    }
  }
  if (error) {
    Discard();
    listing->OwnTouched(wasCurrent);
    if (taken) throw NameTakenException("cannot write " + target + ": an item of that name appeared meanwhile");
    throw IOException("cannot " + failedStep + " " + target + ": " + std::strerror(error));
  }
  tempPath.clear();
  if (batch) {
    batch->made.push_back({listing, folder, name, existed});
  } else if (!SyncFolder(folder)) {
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
  listing->RememberFirstLine(name, whole);
}

TextOutputStream::TextOutputStream(std::unique_ptr<Backing> b) : b_(std::move(b)) {}
TextOutputStream::~TextOutputStream() = default;

void TextOutputStream::Write(const String& s) { b_->Append(s); }
void TextOutputStream::WriteLine(const String& s) { b_->Append(s + "\n"); }

void TextOutputStream::NeverReplace() { b_->mayReplace = false; }

void TextOutputStream::Close() {
  if (b_->closed) return;
  b_->Commit();
}

}  // namespace fw
