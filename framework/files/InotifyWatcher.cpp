#include "framework/files/InotifyWatcher.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace fw::detail {

namespace {
// What changes a folder's listing or the contents of a file in it, and the
// folder going away. Ancestors are watched only for going away: the path
// would then lead to another folder, or to none.
constexpr std::uint32_t kFolderEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY |
                                        IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;
constexpr std::uint32_t kAncestorEvents = IN_DELETE_SELF | IN_MOVE_SELF;
constexpr std::uint32_t kWatchLost = IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT;
constexpr std::uint32_t kNameEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB;
constexpr std::uint32_t kArrivals = IN_MOVED_TO | IN_CREATE;
}  // namespace

bool InotifyWatcher::Start(String& why) {
  if (fd_) return true;
  if (!ReadReady::Possible()) {
    why = "no event loop";
    return false;
  }
  fd_.Reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (!fd_) {
    why = String("inotify: ") + std::strerror(errno);
    return false;
  }
  // One read per wake-up: the loop calls again while more is queued.
  ready_ = std::make_unique<ReadReady>(fd_.Get(), [this] { Read(); });
  return true;
}

void InotifyWatcher::CatchUp() {
  if (fd_)
    while (Read()) {
    }
}

void InotifyWatcher::End() {
  // Without the event loop no change would be seen any more.
  LoseAll();
  ready_.reset();
  fd_.Reset();
  uses_.clear();
  watchesOf_.clear();
}

bool InotifyWatcher::Watch(const String& path, WatchedFolder& folder, String& why) {
  if (!Start(why)) return false;
  if (path.empty() || path[0] != '/') {
    why = "a relative path moves with the working folder";
    return false;
  }
  bool ok = true;
  for (std::size_t slash = 0; ok && slash != String::npos && slash + 1 < path.size();
       slash = path.find('/', slash + 1))
    ok = Add(slash == 0 ? String("/") : path.substr(0, slash), kAncestorEvents, folder, false);
  ok = ok && Add(path, kFolderEvents, folder, true);
  if (!ok) {
    why = String("inotify: ") + std::strerror(errno);
    Unwatch(folder);
  }
  return ok;
}

bool InotifyWatcher::Add(const String& path, std::uint32_t mask, WatchedFolder& folder, bool own) {
  // Masks only grow: the same folder may be one listing's own and another's ancestor.
  int wd = ::inotify_add_watch(fd_.Get(), path.c_str(), mask | IN_ONLYDIR | IN_MASK_ADD);
  if (wd < 0) return false;  // ENOSPC at the watch limit, EACCES, ENOENT
  uses_[wd].push_back(Use{&folder, own});
  watchesOf_[&folder].push_back(wd);
  return true;
}

void InotifyWatcher::Unwatch(WatchedFolder& folder) {
  auto mine = watchesOf_.find(&folder);
  if (mine == watchesOf_.end()) return;
  for (int wd : mine->second) {
    auto it = uses_.find(wd);
    if (it == uses_.end()) continue;
    std::erase_if(it->second, [&](const Use& u) { return u.folder == &folder; });
    if (it->second.empty()) {
      ::inotify_rm_watch(fd_.Get(), wd);  // EINVAL when the kernel already dropped it
      uses_.erase(it);
    }
  }
  watchesOf_.erase(mine);
}

bool InotifyWatcher::Read() {
  ssize_t n = ::read(fd_.Get(), buf_, sizeof buf_);
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

void InotifyWatcher::Dispatch(const inotify_event& ev) {
  // Lost events may have said anything, an ancestor's move included.
  if (ev.mask & IN_Q_OVERFLOW) return LoseAll();
  auto it = uses_.find(ev.wd);
  if (it == uses_.end()) return;
  const std::vector<Use> users = it->second;  // a folder told may unwatch, which edits uses_
  if (ev.mask & kWatchLost) {
    for (const Use& u : users) u.folder->WatchLost();
    return;
  }
  if (ev.len == 0 || ev.name[0] == '\0') {
    if (ev.mask & IN_ATTRIB)
      for (const Use& u : users)
        if (u.own) u.folder->FolderAttributesChanged();
    return;
  }
  const std::string_view name(ev.name);
  for (const Use& u : users)
    if (u.own) u.folder->EntryChanged(name, (ev.mask & kArrivals) != 0, (ev.mask & kNameEvents) != 0);
}

void InotifyWatcher::LoseAll() {
  std::vector<WatchedFolder*> all;
  for (const auto& [folder, wds] : watchesOf_) all.push_back(folder);
  for (WatchedFolder* f : all) f->WatchLost();
}

}  // namespace fw::detail
