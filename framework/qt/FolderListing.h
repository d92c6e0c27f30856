#pragma once
// The cached listing of one folder, shared by every FolderItem of that path.
// A listing loop asks Count before every pass, so Count costs one stat of the
// folder and rescans only when the folder's stat changed or a change of this
// process could not be applied in place. Small files read through
// OpenAsTextFile or written by CreateTextFile are kept too, keyed by their
// stat, so rebuilding a list after one new call file reads just that file.
#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <unordered_map>
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

struct FolderListing {
  enum Kind : char { File = 'f', Folder = 'd', Other = 'o' };
  struct Entry {
    String name;
    Kind kind;
    bool text;  // Mac type "TEXT"
  };
  struct CachedFile {
    StatKey key;
    String bytes;
  };
  // Files at most this size are kept whole after the first read.
  static constexpr std::size_t kCachedFileMax = 4096;

  explicit FolderListing(String folderPath) : path(std::move(folderPath)) {}

  const String path;
  std::vector<Entry> entries;  // byte order of names
  std::uint64_t generation = 0;  // bumped whenever entries change

  // Makes entries current: one stat, and a rescan only when needed.
  void Refresh();
  // Loads the listing once; later calls trust it until the next Refresh.
  void EnsureLoaded();
  const Entry* Find(const String& name, std::size_t* index = nullptr) const;

  // A change made by this process: call BeginOwnChange before it and one of
  // the Own* functions after it, which update the listing in place when it
  // was current, and otherwise leave the next Count a rescan.
  bool BeginOwnChange();
  void OwnAdded(bool wasCurrent, const String& name, Kind kind, bool text);
  void OwnRemoved(bool wasCurrent, const String& name);
  // A change that left no visible trace (a temporary that came and went).
  void OwnTouched(bool wasCurrent) { AfterOwnChange(wasCurrent); }

  const CachedFile* CachedContent(const String& name, const StatKey& key) const;
  void RememberContent(const String& name, const StatKey& key, const String& bytes);

 private:
  void Scan(const struct stat& st);
  void AfterOwnChange(bool wasCurrent);

  bool loaded_ = false;
  bool dirty_ = false;
  bool racy_ = false;  // scanned within the file system's timestamp step of a change
  bool present_ = false;
  StatKey sig_;
  std::int64_t lastScanEnd_ = 0, lastScanCost_ = 0;
  std::unordered_map<String, CachedFile> content_;
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
