#include "framework/TextOutputStream.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

#include "framework/LineBreak.h"
#include "framework/files/OwnChange.h"
#include "framework/files/StreamBackings.h"

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
bool SyncFolderFd(int dfd) { return ::fsync(dfd) == 0 || errno == EINVAL || errno == ENOTSUP; }

bool SyncFolder(const String& folder) {
  int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd < 0) return false;
  bool ok = SyncFolderFd(dfd);
  int err = errno;
  ::close(dfd);
  errno = err;
  return ok;
}

// What open(..., 0666) would give a new file: mkostemps makes it 0600, and a
// call file must stay readable by whoever bills from the folder.
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

constexpr const char* kRenameStep = "rename the temporary file to";
constexpr std::size_t kNoFolder = static_cast<std::size_t>(-1);
}  // namespace

struct SyncBatch::State {
  struct Folder {
    String path;
    int fd = -1;
    bool synced = false;
  };
  struct Waiting {
    std::shared_ptr<TextOutputStream::Backing> file;
    std::size_t folder;
  };
  std::vector<Folder> folders;
  std::vector<Waiting> held;  // in the order they were closed
  bool committed = false;

  ~State() {
    for (auto& f : folders)
      if (f.fd >= 0) ::close(f.fd);
  }

  // Opens the folder before a file's data is written to it: syncfs reports
  // the write-back errors of its file system since this open. kNoFolder
  // when it cannot be opened.
  std::size_t Watch(const String& folder) {
    for (std::size_t i = 0; i < folders.size(); ++i)
      if (folders[i].path == folder) return folders[i].fd >= 0 ? i : kNoFolder;
    int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    folders.push_back({folder, dfd});
    return dfd >= 0 ? folders.size() - 1 : kNoFolder;
  }

  void Commit() {
    committed = true;
    for (auto& f : folders) f.synced = f.fd >= 0 && ::syncfs(f.fd) == 0;
    // Only durable files take their names. syncfs also fails for another
    // program's lost write on the same disk: then each file answers for itself.
    for (auto& w : held)
      if (folders[w.folder].synced || w.file->SyncAlone()) w.file->PublishHeld();
    held.clear();
    int err = 0;
    String failedFolder;
    for (auto& f : folders) {
      if (f.fd < 0 || SyncFolderFd(f.fd) || err) continue;
      err = errno ? errno : EIO;
      failedFolder = f.path;
    }
    // The files are durable and stay: removing them again could fail too and
    // leave a record both written and reported lost.
    if (err)
      throw IOException("cannot sync folder " + failedFolder + " after putting files in it: " + std::strerror(err));
  }
};

SyncBatch::SyncBatch() : s_(std::make_unique<State>()) {}

SyncBatch::~SyncBatch() {
  if (s_->committed) return;
  try {
    s_->Commit();
  } catch (const std::exception&) {
    // Left without Commit (an exception on its way): the files are in place.
  }
}

void SyncBatch::Commit() {
  if (s_->committed) return;
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

String TextOutputStream::Backing::FailureText() const {
  const String target = folder + "/" + name;
  if (error == EEXIST && failedStep == kRenameStep)
    return "cannot write " + target + ": an item of that name appeared meanwhile";
  return "cannot " + failedStep + " " + target + ": " + std::strerror(error);
}

bool TextOutputStream::Backing::OpenTemp() {
  String pattern = folder + "/.tp-" + std::to_string(::getpid()) + "-XXXXXX.tmp";
  fd = ::mkostemps(pattern.data(), 4, O_CLOEXEC);
  if (fd < 0) {
    Fail("create a temporary file");
    return false;
  }
  tempPath = pattern;
  ::fchmod(fd, NewFileMode());  // best effort: a private file is still a whole one
  return true;
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

int TextOutputStream::Backing::PutInPlace(bool& replaced) {
  for (;;) {
    const String target = folder + "/" + name;
    struct stat st {};
    replaced = mayReplace && ::lstat(target.c_str(), &st) == 0;
    int err = Publish(target);
    if (err == 0) {
      tempPath.clear();
      return 0;
    }
    if (err != EEXIST || !nextName) return err;
    // Taken meanwhile (another copy of the program): the bytes are synced
    // already, only the name moves on.
    try {
      name = nextName();
    } catch (const std::exception&) {
      return EEXIST;
    }
    mayReplace = false;
  }
}

void TextOutputStream::Backing::Close(SyncBatch::State* batch) {
  closed = true;
  detail::OwnChange change(*listing);
  // A file spilled before the batch could watch its folder is synced alone;
  // so is one closed into a batch that has already committed.
  if (batch && (fd >= 0 || batch->committed)) batch = nullptr;
  const std::size_t batchFolder = batch ? batch->Watch(folder) : kNoFolder;
  if (batchFolder == kNoFolder) batch = nullptr;
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
  if (!error && batch) {
    state = Held;
    batch->held.push_back({shared_from_this(), batchFolder});
    return change.LeftNoTrace();  // a hidden temporary, put in place by the batch
  }
  bool replaced = false;
  if (!error) {
    if (int err = PutInPlace(replaced)) {
      errno = err;
      Fail(kRenameStep);
    }
  }
  if (error) {
    Discard();
    change.LeftNoTrace();
    state = Failed;
    failure = FailureText();
    if (error == EEXIST && failedStep == kRenameStep) throw NameTakenException(failure);
    throw IOException(failure);
  }
  if (!SyncFolder(folder)) {
    int err = errno;
    // A new file that may not survive a power cut must not count as written.
    if (!replaced) {
      ::unlink((folder + "/" + name).c_str());
      SyncFolder(folder);
    }
    change.MayHaveChanged(name);
    state = Failed;
    failure = "cannot sync folder " + folder + " after writing " + name + ": " + std::strerror(err);
    throw IOException(failure);
  }
  state = InPlace;
  change.Published(name, whole);
}

bool TextOutputStream::Backing::SyncAlone() {
  int tfd = ::open(tempPath.c_str(), O_RDONLY | O_CLOEXEC);
  bool synced = tfd >= 0 && ::fsync(tfd) == 0;
  if (!synced) Fail("sync");
  if (tfd >= 0) ::close(tfd);
  if (synced) return true;
  detail::OwnChange change(*listing);
  Discard();
  change.LeftNoTrace();
  state = Failed;
  failure = FailureText();
  return false;
}

void TextOutputStream::Backing::PublishHeld() {
  detail::OwnChange change(*listing);
  bool replaced = false;
  if (int err = PutInPlace(replaced)) {
    errno = err;
    Fail(kRenameStep);
    Discard();
    change.LeftNoTrace();
    state = Failed;
    failure = FailureText();
    return;
  }
  state = InPlace;
  change.Published(name, whole);
}

TextOutputStream::TextOutputStream(std::unique_ptr<Backing> b) : b_(std::move(b)) {}
TextOutputStream::~TextOutputStream() = default;

void TextOutputStream::Write(const String& s) { b_->Append(s); }
void TextOutputStream::WriteLine(const String& s) { b_->Append(s + "\n"); }

void TextOutputStream::NeverReplace() { b_->mayReplace = false; }

void TextOutputStream::OnNameTaken(std::function<String()> nextName) { b_->nextName = std::move(nextName); }

void TextOutputStream::Close() {
  if (b_->closed) return;
  b_->Close(nullptr);
}

void TextOutputStream::Close(SyncBatch& batch) {
  if (b_->closed) return;
  b_->Close(batch.s_.get());
}

String TextOutputStream::Name() const { return b_->name; }
bool TextOutputStream::Published() const { return b_->state == Backing::InPlace; }
String TextOutputStream::Failure() const { return b_->state == Backing::Failed ? b_->failure : String(); }

}  // namespace fw
