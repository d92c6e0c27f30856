#pragma once
// What the folder machinery keeps for the whole process: the one listing of
// each folder path (FolderListing) and the one inotify instance that keeps
// them current (InotifyWatcher).
#include <memory>
#include <unordered_map>

#include "framework/Object.h"
#include "framework/files/InotifyWatcher.h"

namespace fw::detail {

class FolderListing;

class Folders {
 public:
  // The one place they live. Process-wide, not the application object's:
  // FolderItems anywhere in the program, static ones included, point into
  // the listings without a reference count (a listing loop must not pay one
  // per item), so the listings stay until the process ends.
  static Folders& Process();
  Folders() = default;
  ~Folders();
  Folders(const Folders&) = delete;
  Folders& operator=(const Folders&) = delete;

  // The one listing of that folder path.
  std::shared_ptr<FolderListing> ListingFor(const String& folderPath);
  // The event loop ends (the runtime's finalisation): the watch goes with
  // the loop that reads it, and the listings fall back to stat.
  void EndWatching() { watcher_.End(); }

 private:
  InotifyWatcher watcher_;
  std::unordered_map<String, std::shared_ptr<FolderListing>> listings_;
};

}  // namespace fw::detail
