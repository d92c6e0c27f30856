#pragma once
// The cached listing of one folder, shared by every FolderItem of that path
// (Folders keeps it): its entries (FolderSnapshot) and the first line of each
// text file in it (FirstLineCache), kept current by the process's inotify
// watch (InotifyWatcher) or, where none can be had, by stat (PolledFolder).
//
// A listing loop asks Count, Item, MacType and OpenAsTextFile on every pass.
// While the folder is watched, a pass makes no system call at all; changes
// by other processes show once the event loop has run, or at the start of
// the next pass (ListingPass), which reads the events reported so far.
// Unwatched, each pass stats the folder once and each file once.
#include <cstdint>
#include <memory>
#include <string_view>
#include <optional>
#include <unordered_set>

#include "framework/Object.h"
#include "framework/files/FirstLineCache.h"
#include "framework/files/FolderSnapshot.h"
#include "framework/files/InotifyWatcher.h"
#include "framework/files/PolledFolder.h"
#include "framework/files/Recycled.h"

namespace fw {
class FolderItem;
class TextInputStream;
}  // namespace fw

namespace fw::detail {

// Where a listing loop stands. Such a loop asks Count before every Item,
// one index up each time: a Count that follows no Item since the last
// Count, or the Item of the last entry, begins a pass over the folder.
class ListingPass {
 public:
  void ItemAsked(std::size_t index) { lastItem_ = index; }  // from 1
  bool CountBeginsPass(std::size_t entries) {
    const bool begins = lastItem_ == 0 || lastItem_ >= entries;
    lastItem_ = 0;
    return begins;
  }

 private:
  std::size_t lastItem_ = 0;
};

class FolderListing final : public WatchedFolder {
 public:
  using Kind = FolderEntry::Kind;
  FolderListing(String folderPath, InotifyWatcher& watch) : path(std::move(folderPath)), watch_(watch) {}
  ~FolderListing();
  FolderListing(const FolderListing&) = delete;
  FolderListing& operator=(const FolderListing&) = delete;

  const String path;
  const FolderSnapshot::Entries& entries() const { return snapshot_.entries(); }
  std::uint64_t generation() const { return snapshot_.generation(); }
  // What a listing loop makes for each file, reused (Recycled.h).
  Recycled<FolderItem> items;
  Recycled<TextInputStream> streams;

  // For Count: makes entries current. A pass reads the change events so
  // far, or unwatched, stats the folder; the rest of the pass trusts them.
  void Refresh();
  // For Item(index): loads the listing once; later calls trust it until the
  // next Refresh.
  void EnsureLoaded(std::size_t index);
  const FolderEntry* Find(std::string_view name, std::size_t* index = nullptr) const {
    return snapshot_.Find(name, index);
  }
  // The entry of name, from memory where the listing is watched and loaded:
  // current but for others' changes whose events are not read yet. Null
  // where the folder holds no such name; nothing where only the folder itself
  // can tell, as for a hidden name (a leading dot), which is never listed.
  std::optional<const FolderEntry*> Knows(std::string_view name) const {
    if (!watched_ || !loaded_ || dirty_ || name.empty() || name[0] == '.') return std::nullopt;
    return snapshot_.Find(name);
  }

  // The first line of the listed file at index, from memory when current.
  // False when it is not held (not a regular file, or it cannot be read;
  // unreadable says which).
  bool FirstLine(std::size_t index, HeldLine& out, bool* unreadable);
  // This folder itself was removed by this process.
  void FolderRemoved() { Drop(true); }

 private:
  friend class OwnChange;
  // WatchedFolder
  void EntryChanged(std::string_view name, bool arrived, bool nameChanged) override;
  void FolderAttributesChanged() override { Drop(false); }
  void WatchLost() override { Drop(true); }

  void RefreshSlow();
  void Read(const struct stat& st);
  bool StartWatching();
  // Forgets everything; with unwatch, also the watch, which the next Refresh
  // sets up anew (the folder at this path may be another one by then).
  void Drop(bool unwatch);
  // Makes the entry of name agree with the folder as it is now.
  void Recheck(std::string_view name);
  void Erase(FolderSnapshot::Entries::iterator it);
  bool IsText(std::string_view name) const;
  bool LineCurrentByStat(FolderEntry& e);

  // The own-change steps OwnChange takes.
  bool BeginOwnChange();
  void AfterOwnChange(bool wasCurrent);
  // Of a name this process added: notes it, and where the listing was
  // current, updates its entry; true when it must still be inserted at at.
  bool NoteOwnAdded(bool wasCurrent, std::string_view name, Kind kind, bool text,
                    FolderSnapshot::Entries::iterator& at);
  void OwnAdded(bool wasCurrent, std::string_view name, Kind kind, bool text);
  // Text files, as OwnAdded each, in one change.
  void OwnAddedFiles(bool wasCurrent, const std::vector<std::string_view>& names);
  void OwnRemoved(bool wasCurrent, std::string_view name);
  void OwnFirstLine(std::string_view name, std::string_view content);

  InotifyWatcher& watch_;
  FolderSnapshot snapshot_;
  FirstLineCache lines_;
  PolledFolder poll_;
  ListingPass pass_;
  bool loaded_ = false;
  bool dirty_ = false;
  bool present_ = false;
  bool watched_ = false;
  bool failed_ = false;       // the last read failed: the next pass reads again
  bool failureTold_ = false;  // said on standard error since the last read that worked
  String scratch_;            // a file's path, made for one stat
  // Files this process has just published with their first line held: the
  // arrival the watch reports for each is its own, and changes nothing.
  std::unordered_set<String> ownArrivals_;
  // Files this process made with CreateTextFile under a name without ".txt",
  // "TEXT" even where the file system keeps no extended attributes.
  std::unordered_set<String> madeHere_;
};

// The one listing of that folder path (Folders::ListingFor).
std::shared_ptr<FolderListing> ListingFor(const String& folderPath);

bool HasTextName(std::string_view name);  // ends in ".txt"
// The user.mactype attribute says "TEXT".
bool HasTextAttribute(const String& path);
extern const char* const kMacTypeAttribute;

}  // namespace fw::detail
