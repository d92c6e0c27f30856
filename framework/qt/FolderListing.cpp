#include "framework/qt/FolderListing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string_view>
#include <unordered_map>

namespace fw::detail {

namespace {
// Timestamps move in steps of the kernel's clock tick (up to 10 ms); a change
// within the same step as a scan leaves the folder's stat as it was.
constexpr std::int64_t kTimestampStepNs = 20'000'000;
constexpr std::size_t kContentBudget = 64u << 20;

// What changes a folder's listing or the contents of a file in it, and the
// folder going away. Ancestors are watched only for going away: the path
// would then lead to another folder, or to none.
constexpr std::uint32_t kFolderEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY |
                                        IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;
constexpr std::uint32_t kAncestorEvents = IN_DELETE_SELF | IN_MOVE_SELF;
constexpr std::uint32_t kWatchLost = IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT;
constexpr std::uint32_t kNameEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB;

std::int64_t Ns(const timespec& t) { return std::int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec; }

std::int64_t NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return Ns(ts);
}

bool NameLess(const FolderListing::Entry& e, const String& name) { return e.name < name; }

String Join(const String& folder, const String& name) { return folder == "/" ? "/" + name : folder + "/" + name; }
}  // namespace

// One inotify instance for the process, read on the event loop: no thread,
// and nothing runs while nothing changes.
class Watcher {
 public:
  // Null where inotify or the event loop is not to be had.
  static Watcher* Instance() {
    if (instance_ || !QCoreApplication::instance()) return instance_;
    int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd >= 0) instance_ = new Watcher(fd);  // lives as long as the application object
    return instance_;
  }
  static Watcher* Current() { return instance_; }

  void ReadAll() {
    while (Read()) {
    }
  }

  // Watches every ancestor of the listing's folder from the root down, then
  // the folder: whatever is renamed or removed along the path after its watch
  // is set is reported, so the folder watched is the one the path names.
  bool Watch(FolderListing& listing) {
    const String& path = listing.path;
    if (path.empty() || path[0] != '/') return false;  // relative: moves with the working folder
    for (std::size_t slash = 0; slash != String::npos && slash + 1 < path.size(); slash = path.find('/', slash + 1)) {
      if (!Add(slash == 0 ? String("/") : path.substr(0, slash), kAncestorEvents, listing, false)) {
        Unwatch(listing);
        return false;
      }
    }
    if (!Add(path, kFolderEvents, listing, true)) {
      Unwatch(listing);
      return false;
    }
    return true;
  }

  void Unwatch(FolderListing& listing) {
    for (int wd : listing.watches_) {
      auto it = uses_.find(wd);
      if (it == uses_.end()) continue;
      std::erase_if(it->second, [&](const Use& u) { return u.listing == &listing; });
      if (it->second.empty()) {
        ::inotify_rm_watch(fd_, wd);  // EINVAL when the kernel already dropped it
        uses_.erase(it);
      }
    }
    listing.watches_.clear();
    listing.watched_ = false;
  }

 private:
  struct Use {
    FolderListing* listing;
    bool folder;  // its own folder, not an ancestor
  };

  explicit Watcher(int fd) : fd_(fd) {
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier_, &QSocketNotifier::activated, [this] { Read(); });
    // Without the event loop no change would be seen any more.
    QObject::connect(notifier_, &QObject::destroyed, [this] {
      LoseAll();
      ::close(fd_);
      instance_ = nullptr;
      delete this;
    });
  }

  bool Add(const String& path, std::uint32_t mask, FolderListing& listing, bool folder) {
    // Masks only grow: the same folder may be one listing's own and another's ancestor.
    int wd = ::inotify_add_watch(fd_, path.c_str(), mask | IN_ONLYDIR | IN_MASK_ADD);
    if (wd < 0) return false;  // ENOSPC at the watch limit, EACCES, ENOENT: the caller checks by stat
    uses_[wd].push_back(Use{&listing, folder});
    listing.watches_.push_back(wd);
    return true;
  }

  // Applies what one read brings; false once nothing is queued. On the event
  // loop one read per wake-up: the notifier fires again while more is queued.
  bool Read() {
    ssize_t n = ::read(fd_, buf_, sizeof buf_);
    if (n <= 0) {
      if (n < 0 && errno != EAGAIN && errno != EINTR) LoseAll();
      return false;
    }
    for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= n;) {
      const auto* ev = reinterpret_cast<const inotify_event*>(buf_ + at);
      Dispatch(*ev);
      at += ssize_t(sizeof(inotify_event) + ev->len);
    }
    return true;
  }

  void Dispatch(const inotify_event& ev) {
    // Lost events may have said anything, an ancestor's move included.
    if (ev.mask & IN_Q_OVERFLOW) return LoseAll();
    auto it = uses_.find(ev.wd);
    if (it == uses_.end()) return;
    if (ev.mask & kWatchLost) {
      auto users = it->second;  // dropping unwatches, which edits uses_
      for (const Use& u : users) u.listing->Drop(true);
      return;
    }
    if (ev.len == 0 || ev.name[0] == '\0') {
      // The folder's own permissions or attributes: what can be read in it may differ.
      if (ev.mask & IN_ATTRIB)
        for (const Use& u : it->second)
          if (u.folder) u.listing->Drop(false);
      return;
    }
    String name(ev.name);
    for (const Use& u : it->second)
      if (u.folder) u.listing->Changed(ev.mask, name);
  }

  void LoseAll() {
    std::vector<FolderListing*> all;
    for (const auto& [wd, users] : uses_)
      for (const Use& u : users) all.push_back(u.listing);
    std::sort(all.begin(), all.end());
    all.erase(std::unique(all.begin(), all.end()), all.end());
    for (FolderListing* l : all) l->Drop(true);
  }

  static inline Watcher* instance_ = nullptr;
  int fd_;
  QSocketNotifier* notifier_ = nullptr;
  std::unordered_map<int, std::vector<Use>> uses_;
  alignas(inotify_event) char buf_[64 * 1024];
};

const char* const kMacTypeAttribute = "user.mactype";

StatKey StatKey::Of(const struct stat& st) {
  return StatKey{st.st_dev, st.st_ino, st.st_size, Ns(st.st_mtim), Ns(st.st_ctim)};
}

bool HasTextName(const String& name) {
  return name.size() >= 4 && name.compare(name.size() - 4, 4, ".txt") == 0;
}

bool HasTextAttribute(const String& path) {
  char buf[8];
  ssize_t n = ::getxattr(path.c_str(), kMacTypeAttribute, buf, sizeof buf);
  return n == 4 && std::memcmp(buf, "TEXT", 4) == 0;
}

std::shared_ptr<FolderListing> ListingFor(const String& folderPath) {
  // Never destroyed: the watcher may still reach listings while the
  // application object goes, after static destructors have run.
  static auto& listings = *new std::unordered_map<String, std::shared_ptr<FolderListing>>;
  auto& slot = listings[folderPath];
  if (!slot) slot = std::make_shared<FolderListing>(folderPath);
  return slot;
}

void FolderListing::RefreshSlow() {
  struct stat st {};
  bool isFolder = ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  if (watched_ && isFolder) return Scan(st);  // dropped, or not yet loaded
  if (!isFolder) {
    if (watched_) Drop(true);
    if (present_ || !loaded_ || !entries.empty()) {
      entries.clear();
      contentBytes_ = 0;
      ++generation;
    }
    loaded_ = true;
    present_ = false;
    return;
  }
  if (loaded_ && present_ && !dirty_ && StatKey::Of(st) == sig_) {
    if (!racy_) return;
    // Verify a racy scan by scanning again, but spend at most a fifth of the
    // time on it: a listing loop over a large folder asks Count every pass.
    if (NowNs() - lastScanEnd_ < 4 * lastScanCost_) return;
  }
  // A rescan is due anyway: watch first, so nothing that changes during the
  // scan goes unseen, and from then on the stats are not needed.
  StartWatching();
  Scan(st);
}

void FolderListing::CatchUp() {
  if (Watcher* w = Watcher::Current()) w->ReadAll();
}

bool FolderListing::StartWatching() {
  Watcher* w = Watcher::Instance();
  if (!w || !w->Watch(*this)) return false;
  // Contents read before the watch began may have changed unreported.
  for (Entry& e : entries) e.cached.reset();
  contentBytes_ = 0;
  watched_ = true;
  return true;
}

void FolderListing::Drop(bool unwatch) {
  if (unwatch && watched_) {
    if (Watcher* w = Watcher::Current()) w->Unwatch(*this);
    watched_ = false;
  }
  entries.clear();
  contentBytes_ = 0;
  loaded_ = dirty_ = false;
  ++generation;
}

void FolderListing::Scan(const struct stat& st) {
  // The stat is taken before reading: a change during the scan shows at the next Count.
  std::int64_t started = NowNs();
  // Names are gathered back to back and sorted before they become entries,
  // so that they lie in memory in the order a listing loop walks them.
  struct Found {
    std::size_t at, length;
    Kind kind;
    bool text;
  };
  String names;
  std::vector<Found> found;
  found.reserve(entries.size() + 16);
  if (DIR* d = ::opendir(path.c_str())) {
    int dfd = ::dirfd(d);
    while (dirent* de = ::readdir(d)) {
      // Hidden names: "." and "..", other programs' dot files and our own
      // temporaries of files still being written.
      if (de->d_name[0] == '.') continue;
      Found f{names.size(), std::strlen(de->d_name), Other, false};
      unsigned char type = de->d_type;
      if (type == DT_UNKNOWN || type == DT_LNK) {
        struct stat est {};
        if (::fstatat(dfd, de->d_name, &est, 0) == 0)
          type = S_ISDIR(est.st_mode) ? DT_DIR : S_ISREG(est.st_mode) ? DT_REG : DT_UNKNOWN;
      }
      names.append(de->d_name, f.length);
      if (type == DT_DIR) f.kind = Folder;
      if (type == DT_REG) {
        String name(de->d_name, f.length);
        f.kind = File;
        f.text = HasTextName(name) || madeHere_.count(name) || HasTextAttribute(Join(path, name));
      }
      found.push_back(f);
    }
    ::closedir(d);
  }
  auto nameOf = [&](const Found& f) { return std::string_view(names).substr(f.at, f.length); };
  std::sort(found.begin(), found.end(), [&](const Found& a, const Found& b) { return nameOf(a) < nameOf(b); });
  std::vector<Entry> fresh;
  fresh.reserve(found.size() + 16);
  // Keep the contents of files still there; unwatched, they are checked by stat before use.
  contentBytes_ = 0;
  auto old = entries.begin();
  for (const Found& f : found) {
    Entry& e = fresh.emplace_back(Entry{String(nameOf(f)), f.kind, f.text, nullptr});
    while (old != entries.end() && old->name < e.name) ++old;
    if (old != entries.end() && old->name == e.name && old->cached && e.kind == File) {
      e.cached = std::move(old->cached);
      contentBytes_ += e.cached->bytes.size();
    }
  }
  entries = std::move(fresh);
  sig_ = StatKey::Of(st);
  racy_ = started - sig_.mtimeNs < kTimestampStepNs;
  lastScanEnd_ = NowNs();
  lastScanCost_ = lastScanEnd_ - started;
  loaded_ = present_ = true;
  dirty_ = false;
  ++generation;
}

const FolderListing::Entry* FolderListing::Find(const String& name, std::size_t* index) const {
  auto it = std::lower_bound(entries.begin(), entries.end(), name, NameLess);
  if (it == entries.end() || it->name != name) return nullptr;
  if (index) *index = static_cast<std::size_t>(it - entries.begin());
  return &*it;
}

void FolderListing::Changed(std::uint32_t mask, const String& name) {
  // Nothing is kept of a listing not loaded, nor of hidden names.
  if (!loaded_ || name[0] == '.') return;
  auto it = std::lower_bound(entries.begin(), entries.end(), name, NameLess);
  if (it != entries.end() && it->name == name) ForgetContent(*it);
  if (mask & kNameEvents) Recheck(name);
}

void FolderListing::Recheck(const String& name) {
  String full = Join(path, name);
  struct stat st {};
  bool exists = ::lstat(full.c_str(), &st) == 0;
  if (!exists && errno != ENOENT) return Drop(false);  // cannot tell: read the folder afresh
  auto it = std::lower_bound(entries.begin(), entries.end(), name, NameLess);
  bool listed = it != entries.end() && it->name == name;
  if (!exists) {
    if (listed) Erase(it);
    return;
  }
  // As a scan sees it: a symbolic link counts as what it leads to.
  if (struct stat target {}; S_ISLNK(st.st_mode) && ::stat(full.c_str(), &target) == 0) st = target;
  Kind kind = S_ISDIR(st.st_mode) ? Folder : S_ISREG(st.st_mode) ? File : Other;
  bool text = kind == File && (HasTextName(name) || madeHere_.count(name) || HasTextAttribute(full));
  if (listed) {
    it->kind = kind;
    it->text = text;
  } else {
    entries.insert(it, Entry{name, kind, text, nullptr});
    ++generation;
  }
}

void FolderListing::ForgetContent(Entry& e) {
  if (!e.cached) return;
  contentBytes_ -= e.cached->bytes.size();
  e.cached.reset();
}

void FolderListing::Erase(std::vector<Entry>::iterator it) {
  ForgetContent(*it);
  entries.erase(it);
  ++generation;
}

bool FolderListing::BeginOwnChange() {
  // Watched, a loaded listing is current but for events not yet read, which
  // will still be applied.
  if (watched_) return loaded_ && !dirty_;
  if (!loaded_ || !present_ || dirty_) return false;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  // Settle a racy listing now, while the folder is quiet, rather than
  // rescanning after every change of our own.
  if (racy_ || StatKey::Of(st) != sig_) Scan(st);
  return !racy_;
}

void FolderListing::AfterOwnChange(bool wasCurrent) {
  // Watched, the change's own events confirm it later. Unwatched, the
  // folder's new stat is ours, unless the listing was stale before.
  if (!watched_) {
    struct stat st {};
    if (wasCurrent && ::stat(path.c_str(), &st) == 0) sig_ = StatKey::Of(st);
    else dirty_ = true;
  }
  ++generation;
}

void FolderListing::OwnAdded(bool wasCurrent, const String& name, Kind kind, bool text) {
  if (text && kind == File) madeHere_.insert(name);
  if (wasCurrent) {
    auto it = std::lower_bound(entries.begin(), entries.end(), name, NameLess);
    if (it != entries.end() && it->name == name) {
      ForgetContent(*it);
      it->kind = kind;
      it->text = text;
    } else {
      entries.insert(it, Entry{name, kind, text, nullptr});
    }
  }
  AfterOwnChange(wasCurrent);
}

void FolderListing::OwnRemoved(bool wasCurrent, const String& name) {
  madeHere_.erase(name);
  auto it = std::lower_bound(entries.begin(), entries.end(), name, NameLess);
  bool listed = it != entries.end() && it->name == name;
  if (listed) ForgetContent(*it);
  if (watched_ && loaded_ && !wasCurrent) {
    Recheck(name);  // the name may or may not be gone
  } else if (wasCurrent && listed) {
    entries.erase(it);
  }
  AfterOwnChange(wasCurrent);
}

std::shared_ptr<const FolderListing::CachedFile> FolderListing::CachedContent(const Entry& entry,
                                                                              const StatKey* key) const {
  if (!entry.cached) return nullptr;
  if (watched_) return entry.cached;
  return key && entry.cached->key == *key ? entry.cached : nullptr;
}

void FolderListing::RememberContent(const String& name, const StatKey& key, const String& bytes) {
  auto it = std::lower_bound(entries.begin(), entries.end(), name, NameLess);
  if (it == entries.end() || it->name != name || it->kind != File) return;  // only listed files are kept
  ForgetContent(*it);
  if (!watched_) {
    // A file changed within the timestamp step of now could change again
    // without its stat showing it: read it afresh next time.
    std::int64_t now = NowNs();
    if (now - key.mtimeNs < kTimestampStepNs || now - key.ctimeNs < kTimestampStepNs) return;
  }
  if (bytes.size() > kCachedFileMax || contentBytes_ + bytes.size() > kContentBudget) return;
  contentBytes_ += bytes.size();
  it->cached = std::make_shared<const CachedFile>(CachedFile{key, bytes});
}

}  // namespace fw::detail
