#include "framework/files/LeftoverTemporaries.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>

#include "framework/Event.h"
#include "framework/files/FolderListing.h"
#include "framework/files/OwnChange.h"
#include "framework/system/FileMode.h"

namespace fw::detail {

namespace {

bool Earlier(const struct stat& a, const struct stat& b) {
  return a.st_mtim.tv_sec != b.st_mtim.tv_sec ? a.st_mtim.tv_sec < b.st_mtim.tv_sec
                                              : a.st_mtim.tv_nsec < b.st_mtim.tv_nsec;
}

void Say(const String& text) { RuntimeUnhandledException(IOException(text), "FolderItem.FinishLeftovers"); }

}  // namespace

LeftoverTemporaries::LeftoverTemporaries(String folder, FolderListing& listing)
    : folder_(std::move(folder)), listing_(listing) {}

String LeftoverTemporaries::PathOf(const String& name) const { return JoinPath(folder_, name); }

FileDescriptor LeftoverTemporaries::OpenToRead(const String& name) const {
  return FileDescriptor::OpenAt(dir_.Get(), name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
}

bool LeftoverTemporaries::List(const std::function<void(std::string_view)>& found) const {
  FileDescriptor copy(::fcntl(dir_.Get(), F_DUPFD_CLOEXEC, 0));
  if (!copy) return false;
  std::unique_ptr<DIR, int (*)(DIR*)> d(::fdopendir(copy.Get()), &::closedir);
  if (!d) return false;
  copy.Release();  // the DIR owns it now
  ::rewinddir(d.get());
  for (;;) {
    errno = 0;  // readdir says nothing else to tell its end from a failure
    const dirent* de = ::readdir(d.get());
    if (!de) return errno == 0;
    if (std::strncmp(de->d_name, ".tp-", 4) == 0) found(de->d_name);
  }
}

FileDescriptor LeftoverTemporaries::TakeEnded(const String& token) const {
  const String name = LockName(token);
  // Made when missing, so that two copies finishing at once meet on one lock.
  FileDescriptor lock =
      FileDescriptor::OpenAt(dir_.Get(), name.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, NewFileMode());
  if (!lock) return {};
  // Held: the copy runs. Where the file system has no flock, nobody can
  // tell, and the temporaries are left alone.
  if (::flock(lock.Get(), LOCK_EX | LOCK_NB) != 0) return {};
  // Removed since it was opened: another copy has just finished this claim.
  if (!StillNamed(lock, dir_.Get(), name)) return {};
  return lock;
}

bool LeftoverTemporaries::ReadBytes(const String& name, String& bytes) const {
  FileDescriptor fd = OpenToRead(name);
  // Still without permissions, as it was made: only its owner gets past that.
  if (!fd && errno == EACCES && ::fchmodat(dir_.Get(), name.c_str(), S_IRUSR, 0) == 0) {
    fd = OpenToRead(name);
    // Unmarked again at once: readable, it would pass for a whole file.
    ::fchmodat(dir_.Get(), name.c_str(), 0, 0);
  }
  if (!fd) return false;
  bytes.clear();
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd.Get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    bytes.append(buf, static_cast<std::size_t>(n));
  }
}

void LeftoverTemporaries::GiveUp(const Left& f, const String& why, const Unfinished& unfinished) {
  String bytes;
  if (!ReadBytes(f.name, bytes)) return;  // left for a later start
  unfinished(bytes, why);
  ::unlinkat(dir_.Get(), f.name.c_str(), 0);
}

bool LeftoverTemporaries::PutInPlace(const Left& f, const NextName& nextName, OwnChange& change) {
  for (;;) {
    String name;
    try {
      name = nextName();
    } catch (const std::exception& e) {
      Say("cannot name " + PathOf(f.name) + ": " + e.what());
      stopped_ = true;
      return false;
    }
    int rc = ::renameat2(dir_.Get(), f.name.c_str(), dir_.Get(), name.c_str(), RENAME_NOREPLACE);
    if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
      // Without RENAME_NOREPLACE: a link fails as surely when the name is
      // taken, and the claim's lock keeps any other copy off.
      rc = ::linkat(dir_.Get(), f.name.c_str(), dir_.Get(), name.c_str(), 0);
      if (rc == 0) ::unlinkat(dir_.Get(), f.name.c_str(), 0);
    }
    if (rc == 0) {
      change.Added(name, FolderEntry::File, true);
      return true;
    }
    if (errno == EEXIST) continue;  // the rule's next name
    if (const int err = errno; err != ENOENT) {
      // Left as it is, for a later start; the others would fare no better.
      Say("cannot put " + PathOf(f.name) + " in place as " + name + ": " + std::strerror(err));
      stopped_ = true;
    }
    return false;
  }
}

int LeftoverTemporaries::Finish(const NextName& nextName, const Unfinished& unfinished) {
  dir_ = FileDescriptor::Open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (!dir_) return 0;
  std::map<String, Claim> claims;
  auto add = [&](std::string_view name) {
    if (auto t = ParseTemporaryName(name)) {
      Claim& c = claims[t->token];
      c.files.push_back({String(name), t->seq, {}});
    } else if (auto token = ParseLockName(name)) {
      claims[*token];
    }
  };
  if (!List(add) || claims.empty()) return 0;

  std::vector<Claim*> ended;
  for (auto& [token, c] : claims) {
    c.token = token;
    c.lock = TakeEnded(token);
    if (c.lock) ended.push_back(&c);
  }
  if (ended.empty()) return 0;
  // A copy that ended just after the listing may have made more files; with
  // their locks held, nothing adds to these claims any more.
  if (std::any_of(ended.begin(), ended.end(), [](const Claim* c) { return !c->files.empty(); })) {
    for (Claim* c : ended) c->files.clear();
    List([&](std::string_view name) {
      auto t = ParseTemporaryName(name);
      if (!t) return;
      auto it = claims.find(t->token);
      if (it != claims.end() && it->second.lock) it->second.files.push_back({String(name), t->seq, {}});
    });
  }

  // Sorted out: whole ones to put in place, the others given up or removed.
  const String unfinishedWhy = "left unfinished in " + folder_ + " by a copy of the program that ended while writing it";
  bool changed = false;
  for (Claim* c : ended) {
    std::vector<Left> whole;
    for (Left& f : c->files) {
      if (::fstatat(dir_.Get(), f.name.c_str(), &f.st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(f.st.st_mode)) continue;
      if (IsWhole(f.st)) {
        whole.push_back(std::move(f));
        continue;
      }
      if (f.st.st_size > 0) GiveUp(f, unfinishedWhy, unfinished);
      else ::unlinkat(dir_.Get(), f.name.c_str(), 0);
      changed = true;
    }
    std::sort(whole.begin(), whole.end(), [](const Left& a, const Left& b) { return a.seq < b.seq; });
    c->files = std::move(whole);
  }
  // Claims in the order their first files were made.
  std::stable_sort(ended.begin(), ended.end(), [](const Claim* a, const Claim* b) {
    if (a->files.empty() || b->files.empty()) return !a->files.empty() && b->files.empty();
    return Earlier(a->files.front().st, b->files.front().st);
  });

  // Nothing proves that the ended copy made them durable: one sync for all,
  // or where that fails, each on its own.
  std::size_t wholeCount = 0;
  for (Claim* c : ended) wholeCount += c->files.size();
  if (wholeCount > 0 && ::syncfs(dir_.Get()) != 0) {
    for (Claim* c : ended) {
      std::erase_if(c->files, [&](const Left& f) {
        FileDescriptor fd = OpenToRead(f.name);
        if (fd && ::fsync(fd.Get()) == 0) return false;
        const int err = errno ? errno : EIO;
        GiveUp(f, "cannot sync " + PathOf(f.name) + ": " + std::strerror(err), unfinished);
        changed = true;
        return true;
      });
    }
  }

  int published = 0;
  for (Claim* c : ended) {
    for (const Left& f : c->files) {
      if (stopped_) break;
      OwnChange change(listing_);
      if (PutInPlace(f, nextName, change)) {
        ++published;
        changed = true;
      } else {
        change.LeftNoTrace();
      }
    }
  }

  // The locks go with the files they kept, before the one sync of the folder.
  for (Claim* c : ended) {
    ::unlinkat(dir_.Get(), LockName(c->token).c_str(), 0);
    c->lock.Reset();
  }
  if (changed && ::fsync(dir_.Get()) != 0 && errno != EINVAL && errno != ENOTSUP) {
    const int err = errno;
    Say("cannot sync folder " + folder_ + " after putting files in it: " + std::strerror(err));
  }
  return published;
}

}  // namespace fw::detail
