#pragma once
// The cached listing of one folder, shared by every FolderItem of that path,
// together with the contents of its small files (read through
// OpenAsTextFile or written by CreateTextFile), so that rebuilding a list
// after one new call file reads just that file.
//
// A listing loop asks Count, Item, MacType and OpenAsTextFile on every pass.
// While the folder is watched (inotify, read on the event loop) the cache is
// kept current by the change events, and a pass makes no system call at all;
// changes by other processes show once the event loop has run, or at the
// start of the next loop over the folder, which reads the events reported so
// far. Where no watch can be had, Count stats the folder and OpenAsTextFile
// the file, and the cache is checked against those stats.
#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <unordered_set>
#include <vector>

#include "framework/Object.h"

namespace fw::detail {

// Identity and version of a file or folder as stat reports it. The change
// time moves on every write, rename and change of permissions.
struct StatKey {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  std::int64_t mtimeNs = 0, ctimeNs = 0;
  static StatKey Of(const struct stat& st);
  friend bool operator==(const StatKey&, const StatKey&) = default;
};

class Watcher;

struct FolderListing {
  enum Kind : char { File = 'f', Folder = 'd', Other = 'o' };
  struct CachedFile {
    StatKey key;  // checked only while the folder is not watched
    String bytes;
  };
  struct Entry {
    String name;
    Kind kind;
    bool text;  // Mac type "TEXT"
    // Shared with open streams, which keep reading it if it is dropped.
    std::shared_ptr<const CachedFile> cached;
  };
  // Files at most this size are kept whole after the first read.
  static constexpr std::size_t kCachedFileMax = 4096;

  explicit FolderListing(String folderPath) : path(std::move(folderPath)) {}
  FolderListing(const FolderListing&) = delete;
  FolderListing& operator=(const FolderListing&) = delete;

  const String path;
  std::vector<Entry> entries;  // byte order of names
  std::uint64_t generation = 0;  // bumped whenever entries move or are dropped

  // Makes entries current: watched, from the change events; otherwise one
  // stat and a rescan only when needed.
  void Refresh() {
    // A Count after no Item, or after the Item of the last entry, begins a
    // loop over the folder, which should show every change made before it.
    if (watched_ && (itemAsked_ == 0 || itemAsked_ >= entries.size())) CatchUp();
    itemAsked_ = 0;
    if (!(watched_ && loaded_ && !dirty_)) RefreshSlow();
  }
  // For Item(index): loads the listing once; later calls trust it until the
  // next Refresh.
  void EnsureLoaded(std::size_t index) {
    itemAsked_ = index;
    if (!loaded_) RefreshSlow();
  }
  const Entry* Find(const String& name, std::size_t* index = nullptr) const;
  // The change events keep entries and cached contents current.
  bool Watched() const { return watched_; }

  // A change made by this process: call BeginOwnChange before it and one of
  // the Own* functions after it, which update the listing in place when it
  // was current, and otherwise leave the next Count a rescan.
  bool BeginOwnChange();
  void OwnAdded(bool wasCurrent, const String& name, Kind kind, bool text);
  // wasCurrent false: the name may or may not be gone.
  void OwnRemoved(bool wasCurrent, const String& name);
  // A change that left no visible trace (a temporary that came and went).
  void OwnTouched(bool wasCurrent) { AfterOwnChange(wasCurrent); }
  // This folder itself was removed by this process.
  void OwnFolderRemoved() { Drop(true); }

  // The cached contents of a listed file: trusted while watched, otherwise
  // only when key matches. Null when there are none.
  std::shared_ptr<const CachedFile> CachedContent(const Entry& entry, const StatKey* key) const;
  void RememberContent(const String& name, const StatKey& key, const String& bytes);

 private:
  friend class Watcher;
  void RefreshSlow();
  // Applies the change events queued so far, without waiting for the event loop.
  static void CatchUp();
  void Scan(const struct stat& st);
  void AfterOwnChange(bool wasCurrent);
  bool StartWatching();
  // Forgets everything; with unwatch, also the watch, which the next Refresh
  // sets up anew (the folder at this path may be another one by then).
  void Drop(bool unwatch);
  // A change event about one name in the folder.
  void Changed(std::uint32_t mask, const String& name);
  // Makes the entry of name agree with the folder as it is now.
  void Recheck(const String& name);
  void Erase(std::vector<Entry>::iterator it);
  void ForgetContent(Entry& e);

  bool loaded_ = false;
  bool dirty_ = false;
  bool racy_ = false;  // scanned within the file system's timestamp step of a change
  bool present_ = false;
  bool watched_ = false;
  std::size_t itemAsked_ = 0;  // index of the last Item since Count, from 1
  std::vector<int> watches_;  // inotify watch descriptors: this folder and its ancestors
  StatKey sig_;
  std::int64_t lastScanEnd_ = 0, lastScanCost_ = 0;
  std::size_t contentBytes_ = 0;
  // Files this process made with CreateTextFile, "TEXT" even where the file
  // system keeps no extended attributes.
  std::unordered_set<String> madeHere_;
};

// The one listing of that folder path.
std::shared_ptr<FolderListing> ListingFor(const String& folderPath);

bool HasTextName(const String& name);  // ends in ".txt"
// The user.mactype attribute says "TEXT".
bool HasTextAttribute(const String& path);
extern const char* const kMacTypeAttribute;

}  // namespace fw::detail
