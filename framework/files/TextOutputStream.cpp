#include "framework/TextOutputStream.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

#include "framework/Event.h"
#include "framework/LineBreak.h"
#include "framework/files/OwnChange.h"
#include "framework/files/StreamBackings.h"
#include "framework/files/TemporaryClaim.h"

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
  detail::FileDescriptor dfd = detail::FileDescriptor::Open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return dfd && SyncFolderFd(dfd.Get());
}

// Once a file is durable and named it stays and counts as written, also when
// its folder cannot be synced after: removing it again could fail too and
// leave the record both written and still waiting. Should a power cut take
// the name, the whole temporary comes back in its place, and the next start
// puts it in place (LeftoverTemporaries). So the failure is only said.
void SayFolderNotSynced(const String& text, const char* where) {
  RuntimeUnhandledException(IOException(text), where);
}

constexpr const char* kRenameStep = "rename the temporary file to";
constexpr std::size_t kNoFolder = static_cast<std::size_t>(-1);
}  // namespace

struct SyncBatch::State {
  struct Folder {
    String path;
    detail::FileDescriptor fd;
    bool synced = false;
    // One claim for all the batch's temporaries in the folder, so that they
    // are put in place in the order they were closed, should a later copy
    // have to finish them.
    std::shared_ptr<detail::TemporaryClaim> claim;
  };
  struct Waiting {
    std::shared_ptr<TextOutputStream::Backing> file;
    std::size_t folder;
  };
  std::vector<Folder> folders;
  std::vector<Waiting> held;  // in the order they were closed
  bool committed = false;

  // Opens the folder before a file's data is written to it: syncfs reports
  // the write-back errors of its file system since this open. kNoFolder
  // when it cannot be opened.
  std::size_t Watch(const String& folder) {
    for (std::size_t i = 0; i < folders.size(); ++i)
      if (folders[i].path == folder) return folders[i].fd ? i : kNoFolder;
    Folder& f = folders.emplace_back();
    f.path = folder;
    f.fd = detail::FileDescriptor::Open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return f.fd ? folders.size() - 1 : kNoFolder;
  }

  std::shared_ptr<detail::TemporaryClaim> ClaimIn(std::size_t folder) {
    Folder& f = folders[folder];
    if (!f.claim) f.claim = detail::TemporaryClaim::Take(f.path);
    return f.claim;
  }

  void Commit() {
    committed = true;
    for (auto& f : folders) f.synced = f.fd && ::syncfs(f.fd.Get()) == 0;
    // Only durable files take their names. syncfs also fails for another
    // program's lost write on the same disk: then each file answers for itself.
    std::vector<Waiting> durable;
    durable.reserve(held.size());
    for (auto& w : held)
      if (folders[w.folder].synced || w.file->SyncAlone()) durable.push_back(std::move(w));
    held.clear();
    // Named in the order closed; each folder's listing is told of them all at
    // once, which sorts thousands of new names in one merge, not one by one.
    for (std::size_t f = 0; f < folders.size(); ++f) {
      std::optional<detail::OwnChange> change;
      std::vector<detail::OwnChange::Arrival> arrived;
      for (auto& w : durable) {
        if (w.folder != f) continue;
        if (!change) change.emplace(*w.file->listing);
        if (w.file->PutHeldInPlace()) arrived.push_back({w.file->name, w.file->whole});
      }
      if (change) change->PublishedAll(arrived);
    }
    for (auto& f : folders) {
      f.claim.reset();  // its lock file goes before the folder's sync
      if (!f.fd || SyncFolderFd(f.fd.Get())) continue;
      const int err = errno ? errno : EIO;
      SayFolderNotSynced("cannot sync folder " + f.path + " after putting files in it: " + std::strerror(err),
                         "SyncBatch.Commit");
    }
  }
};

SyncBatch::SyncBatch() : s_(std::make_unique<State>()) {}

SyncBatch::~SyncBatch() {
  try {
    Commit();
  } catch (const std::exception&) {
    // Left without Commit, with an exception on its way: nothing more to do.
  }
}

void SyncBatch::Commit() {
  if (s_->committed) return;
  s_->Commit();
}

TextOutputStream::Backing::Backing(std::shared_ptr<detail::FolderListing> listing, String folder, String name,
                                   bool exists)
    : listing(std::move(listing)), folder(std::move(folder)), name(std::move(name)), mayReplace(exists) {}

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
  if (!claim) claim = detail::TemporaryClaim::Take(folder);
  if (claim) fd = claim->NewTemporary(tempPath, markable);
  if (!fd) {
    Fail("create a temporary file");
    claim.reset();
    return false;
  }
  return true;
}

bool TextOutputStream::Backing::WritePending() {
  if (error) return false;
  if (!fd && !OpenTemp()) return false;
  if (!WriteAll(fd.Get(), pending.data(), pending.size())) {
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
  fd.Reset();
  if (!tempPath.empty() && ::unlink(tempPath.c_str()) != 0 && errno != ENOENT) {
    // Left behind, it must not pass for a whole file that a later copy
    // would put in place: the record is still waiting, or reported.
    if (::truncate(tempPath.c_str(), 0) != 0) ::chmod(tempPath.c_str(), 0);
  }
  tempPath.clear();
  claim.reset();
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

int TextOutputStream::Backing::PutInPlace() {
  for (;;) {
    int err = Publish(folder + "/" + name);
    if (err == 0) {
      tempPath.clear();
      claim.reset();
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
  if (batch && (fd || batch->committed)) batch = nullptr;
  const std::size_t batchFolder = batch ? batch->Watch(folder) : kNoFolder;
  if (batchFolder == kNoFolder) batch = nullptr;
  if (batch && !claim) claim = batch->ClaimIn(batchFolder);
  WritePending();
  if (!error) {
    // After the last byte: a copy killed before this leaves a temporary that
    // the next start will not take for a whole file.
    if (markable && !detail::MarkWhole(fd.Get())) Fail("set the mode of");
  }
  if (!error) {
    // Best effort: the name rule still holds where the file system keeps no attributes.
    ::fsetxattr(fd.Get(), detail::kMacTypeAttribute, "TEXT", 4, 0);
    if (!batch && ::fsync(fd.Get()) != 0) Fail("sync");
  }
  // Closed before it is published, so that the only change the folder's
  // watch reports under the new name is its arrival.
  if (!fd.Close()) Fail("close");
  if (!error && batch) {
    state = Held;
    batch->held.push_back({shared_from_this(), batchFolder});
    return change.LeftNoTrace();  // a hidden temporary, put in place by the batch
  }
  if (!error) {
    if (int err = PutInPlace()) {
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
  state = InPlace;
  change.Published(name, whole);
  if (!SyncFolder(folder)) {
    const int err = errno ? errno : EIO;
    SayFolderNotSynced("cannot sync folder " + folder + " after writing " + name + ": " + std::strerror(err),
                       "TextOutputStream.Close");
  }
}

bool TextOutputStream::Backing::SyncAlone() {
  detail::FileDescriptor tfd = detail::FileDescriptor::Open(tempPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (tfd && ::fsync(tfd.Get()) == 0) return true;
  Fail("sync");
  detail::OwnChange change(*listing);
  Discard();
  change.LeftNoTrace();
  state = Failed;
  failure = FailureText();
  return false;
}

bool TextOutputStream::Backing::PutHeldInPlace() {
  if (int err = PutInPlace()) {
    errno = err;
    Fail(kRenameStep);
    Discard();  // a hidden temporary, never listed
    state = Failed;
    failure = FailureText();
    return false;
  }
  state = InPlace;
  return true;
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
