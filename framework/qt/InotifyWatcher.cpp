#include "framework/qt/InotifyWatcher.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
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

InotifyWatcher* InotifyWatcher::Instance(String* why) {
  if (instance_) return instance_;
  if (!QCoreApplication::instance()) {
    if (why) *why = "no event loop";
    return nullptr;
  }
  int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) {
    if (why) *why = String("inotify: ") + std::strerror(errno);
    return nullptr;
  }
  instance_ = new InotifyWatcher(fd);  // lives as long as the application object
  return instance_;
}

void InotifyWatcher::CatchUp() {
  if (instance_)
    while (instance_ && instance_->Read()) {
    }
}

void InotifyWatcher::Forget(WatchedFolder& folder) {
  if (instance_) instance_->Unwatch(folder);
}

InotifyWatcher::InotifyWatcher(int fd) : fd_(fd) {
  notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, QCoreApplication::instance());
  // One read per wake-up: the notifier fires again while more is queued.
  QObject::connect(notifier_, &QSocketNotifier::activated, [this] { Read(); });
  // Without the event loop no change would be seen any more.
  QObject::connect(notifier_, &QObject::destroyed, [this] {
    LoseAll();
    ::close(fd_);
    instance_ = nullptr;
    delete this;
  });
}

bool InotifyWatcher::Watch(const String& path, WatchedFolder& folder, String& why) {
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
  int wd = ::inotify_add_watch(fd_, path.c_str(), mask | IN_ONLYDIR | IN_MASK_ADD);
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
      ::inotify_rm_watch(fd_, wd);  // EINVAL when the kernel already dropped it
      uses_.erase(it);
    }
  }
  watchesOf_.erase(mine);
}

bool InotifyWatcher::Read() {
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
