#pragma once
// The process's one inotify instance, read on the event loop: no thread, and
// nothing runs while nothing changes.
#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "framework/Object.h"

class QSocketNotifier;
struct inotify_event;

namespace fw::detail {

// What a watched folder hears of itself and of the entries in it.
class WatchedFolder {
 public:
  // An entry's contents changed; arrived: it was made or moved in;
  // nameChanged: it may have come, gone or changed type.
  virtual void EntryChanged(std::string_view name, bool arrived, bool nameChanged) = 0;
  // The folder's own permissions or attributes: what can be read in it may differ.
  virtual void FolderAttributesChanged() = 0;
  // The watch is gone (the folder or an ancestor moved or went, or events
  // were lost): the path may lead to another folder by now.
  virtual void WatchLost() = 0;

 protected:
  ~WatchedFolder() = default;
};

class InotifyWatcher {
 public:
  // Null where inotify or the event loop is not to be had; why says which.
  static InotifyWatcher* Instance(String* why = nullptr);
  // Applies the events queued so far, without waiting for the event loop.
  static void CatchUp();
  // Stops telling folder anything, if a watcher exists.
  static void Forget(WatchedFolder& folder);

  // Watches every ancestor of path from the root down, then path itself:
  // whatever is renamed or removed along the path after its watch is set is
  // reported, so the folder watched is the one the path names. False, with
  // why, when no watch can be had.
  bool Watch(const String& path, WatchedFolder& folder, String& why);
  void Unwatch(WatchedFolder& folder);

 private:
  struct Use {
    WatchedFolder* folder;
    bool own;  // its own folder, not an ancestor
  };

  explicit InotifyWatcher(int fd);
  bool Add(const String& path, std::uint32_t mask, WatchedFolder& folder, bool own);
  // Applies what one read brings; false once nothing is queued.
  bool Read();
  void Dispatch(const ::inotify_event& ev);
  void LoseAll();

  static inline InotifyWatcher* instance_ = nullptr;
  int fd_;
  QSocketNotifier* notifier_ = nullptr;
  std::unordered_map<int, std::vector<Use>> uses_;
  std::unordered_map<WatchedFolder*, std::vector<int>> watchesOf_;
  alignas(8) char buf_[64 * 1024];
};

}  // namespace fw::detail
