#pragma once
// The process's one inotify instance (it lives in Folders), read on the
// event loop: no thread, and nothing runs while nothing changes.
#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "framework/Object.h"
#include "framework/system/FileDescriptor.h"
#include "framework/system/ReadReady.h"

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
  InotifyWatcher() = default;
  ~InotifyWatcher() { End(); }
  InotifyWatcher(const InotifyWatcher&) = delete;
  InotifyWatcher& operator=(const InotifyWatcher&) = delete;

  // Watches every ancestor of path from the root down, then path itself:
  // whatever is renamed or removed along the path after its watch is set is
  // reported, so the folder watched is the one the path names. The inotify
  // instance is made on the first watch. False, with why, when no watch can
  // be had (no event loop, no inotify instance, or no watch left).
  bool Watch(const String& path, WatchedFolder& folder, String& why);
  // Stops telling folder anything.
  void Unwatch(WatchedFolder& folder);
  // Applies the events queued so far, without waiting for the event loop.
  void CatchUp();
  // The event loop that reads the instance ends: every folder watched loses
  // its watch, and the instance goes.
  void End();

 private:
  struct Use {
    WatchedFolder* folder;
    bool own;  // its own folder, not an ancestor
  };

  bool Start(String& why);
  bool Add(const String& path, std::uint32_t mask, WatchedFolder& folder, bool own);
  // Applies what one read brings; false once nothing is queued.
  bool Read();
  void Dispatch(const ::inotify_event& ev);
  void LoseAll();

  FileDescriptor fd_;
  std::unique_ptr<ReadReady> ready_;
  std::unordered_map<int, std::vector<Use>> uses_;
  std::unordered_map<WatchedFolder*, std::vector<int>> watchesOf_;
  alignas(8) char buf_[64 * 1024];
};

}  // namespace fw::detail
