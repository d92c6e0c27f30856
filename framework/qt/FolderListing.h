#pragma once
// The cached listing of one folder, shared by every FolderItem of that path,
// together with the first line of each text file in it, so that rebuilding a
// list after one new call file reads just that file.
//
// A listing loop asks Count, Item, MacType and OpenAsTextFile on every pass.
// While the folder is watched (inotify, read on the event loop) the cache is
// kept current by the change events, and a pass makes no system call at all;
// changes by other processes show once the event loop has run, or at the
// start of the next loop over the folder, which reads the events reported so
// far. Where no watch can be had, Count stats the folder, nothing of the
// files is kept, and OpenAsTextFile reads the file.
//
// Names and first lines lie in append-only chunks, in listing order, so a
// pass over a million entries streams through memory instead of chasing one
// heap block per file. Every first line is held, whatever its size: the list
// rows that show them refer to the same bytes (SharedText.h), so the cache
// costs no second copy and has no budget past which files are read again.
#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "framework/Object.h"

namespace fw {
class FolderItem;
class TextInputStream;
}  // namespace fw

namespace fw::detail {

// Identity and version of a folder as stat reports it. The change time moves
// on every write, rename and change of permissions.
struct StatKey {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  std::int64_t mtimeNs = 0, ctimeNs = 0;
  static StatKey Of(const struct stat& st);
  friend bool operator==(const StatKey&, const StatKey&) = default;
};

// Bytes that never move once added. Chunks are shared, so a stream or a list
// row can keep bytes alive after the listing has let go of them.
class ByteArena {
 public:
  struct Chunk {
    std::unique_ptr<char[]> bytes;
    std::size_t used = 0, capacity = 0;
    bool alone = false;  // holds one large line and nothing else
  };
  // A stable copy of bytes; chunk names its owner.
  const char* Add(std::string_view bytes, std::uint32_t& chunk);
  const std::shared_ptr<Chunk>& Owner(std::uint32_t chunk) const { return chunks_[chunk]; }
  // Bytes added once and no longer used by the listing.
  void Forget(std::size_t bytes) { garbage_ += bytes; }
  // The same, naming their chunk: a large line's own chunk goes at once.
  void Forget(std::uint32_t chunk, std::size_t bytes);
  // Worth copying what is still used into a fresh arena.
  bool Wasteful() const { return garbage_ > (16u << 20) && garbage_ > total_ - garbage_; }
  void Clear();

 private:
  static constexpr std::size_t kChunk = 1u << 20;
  std::vector<std::shared_ptr<Chunk>> chunks_;
  std::size_t total_ = 0, garbage_ = 0;
  std::uint32_t filling_ = UINT32_MAX;  // the chunk new bytes go to
};

class Watcher;

struct FolderListing {
  enum Kind : char { File = 'f', Folder = 'd', Other = 'o' };
  // What is known of a listed file's first line.
  enum Line : std::uint8_t { Unknown, Held, Unreadable };
  // How the first line ends in the file.
  enum LineEnd : std::uint8_t { NoEnd, CR, LF, CRLF };
  struct Entry {
    static constexpr std::size_t kInlineName = 24;  // a call file's name has 19 or 20 bytes
    // A short name lies in the entry itself, where a listing loop reads it
    // anyway; a longer one in names_.
    union {
      char nameInline[kInlineName];
      const char* nameData;
    };
    const char* lineData;  // Held: the first line, in lines_
    std::uint32_t lineSize;
    std::uint32_t lineChunk;
    std::uint16_t nameSize;
    Kind kind;
    bool text;  // Mac type "TEXT"
    Line line;
    LineEnd lineEnd;
    bool more;  // bytes follow the first line and its end
    Entry(std::string_view name, ByteArena& names, Kind k, bool isText);
    std::string_view Name() const {
      return {nameSize <= kInlineName ? nameInline : nameData, nameSize};
    }
  };
  // What a stream needs of a held first line.
  struct HeldLine {
    std::shared_ptr<const void> owner;
    const char* data;
    std::size_t size;
    LineEnd end;
    bool more;
  };

  explicit FolderListing(String folderPath) : path(std::move(folderPath)) {}
  FolderListing(const FolderListing&) = delete;
  FolderListing& operator=(const FolderListing&) = delete;

  const String path;
  std::vector<Entry> entries;  // byte order of names
  // The item and the stream a listing loop made last, handed out again once
  // nobody holds them: a loop over a million files then allocates nothing.
  std::shared_ptr<FolderItem> spareItem;
  std::shared_ptr<TextInputStream> spareStream;
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
  const Entry* Find(std::string_view name, std::size_t* index = nullptr) const;
  // The change events keep entries and held lines current.
  bool Watched() const { return watched_; }

  // A change made by this process: call BeginOwnChange before it and one of
  // the Own* functions after it, which update the listing in place when it
  // was current, and otherwise leave the next Count a rescan.
  bool BeginOwnChange();
  void OwnAdded(bool wasCurrent, std::string_view name, Kind kind, bool text);
  // wasCurrent false: the name may or may not be gone.
  void OwnRemoved(bool wasCurrent, std::string_view name);
  // A change that left no visible trace (a temporary that came and went).
  void OwnTouched(bool wasCurrent) { AfterOwnChange(wasCurrent); }
  // This folder itself was removed by this process.
  void OwnFolderRemoved() { Drop(true); }

  // The first line of the listed file at index, read once while the folder
  // is watched and served from memory after that. False when it is not held
  // (not watched, not a regular file, or it cannot be read; unreadable says
  // which, and is remembered until the file changes).
  bool FirstLine(std::size_t index, HeldLine& out, bool* unreadable);
  // The first line of content this process has just written as name.
  void RememberFirstLine(std::string_view name, std::string_view content);

 private:
  friend class Watcher;
  void RefreshSlow();
  // Applies the change events queued so far, without waiting for the event loop.
  static void CatchUp();
  void Scan(const struct stat& st);
  // Reads the first lines of every text file not yet held, several at once:
  // the first listing of a folder of years.
  void ReadAhead();
  void AfterOwnChange(bool wasCurrent);
  bool StartWatching();
  // Forgets everything; with unwatch, also the watch, which the next Refresh
  // sets up anew (the folder at this path may be another one by then).
  void Drop(bool unwatch);
  // A change event about one name in the folder.
  void Changed(std::uint32_t mask, std::string_view name);
  // Makes the entry of name agree with the folder as it is now.
  void Recheck(std::string_view name);
  void Insert(std::vector<Entry>::iterator at, std::string_view name, Kind kind, bool text);
  void Erase(std::vector<Entry>::iterator it);
  void ForgetLine(Entry& e);
  void Hold(Entry& e, std::string_view line, LineEnd end, bool more);
  // Copies names and held lines into fresh arenas once most of the old is waste.
  void Compact();
  std::vector<Entry>::iterator LowerBound(std::string_view name);

  bool loaded_ = false;
  bool dirty_ = false;
  bool racy_ = false;  // scanned within the file system's timestamp step of a change
  bool present_ = false;
  bool watched_ = false;
  std::size_t itemAsked_ = 0;  // index of the last Item since Count, from 1
  std::vector<int> watches_;  // inotify watch descriptors: this folder and its ancestors
  StatKey sig_;
  std::int64_t lastScanEnd_ = 0, lastScanCost_ = 0;
  ByteArena names_, lines_;
  // Files this process has just published with their first line held: the
  // arrival the watch reports for each is its own, and changes nothing.
  std::unordered_set<String> ownArrivals_;
  // Files this process made with CreateTextFile under a name without ".txt",
  // "TEXT" even where the file system keeps no extended attributes.
  std::unordered_set<String> madeHere_;
};

// The one listing of that folder path.
std::shared_ptr<FolderListing> ListingFor(const String& folderPath);

bool HasTextName(std::string_view name);  // ends in ".txt"
// The user.mactype attribute says "TEXT".
bool HasTextAttribute(const String& path);
extern const char* const kMacTypeAttribute;



}  // namespace fw::detail
