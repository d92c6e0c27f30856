#pragma once
// The entries of one folder as last read, sorted by the bytes of their names,
// and how they change. Each entry also carries what the first-line cache
// knows of it (FirstLineCache.h), where a listing loop reads it anyway.
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "framework/Object.h"
#include "framework/files/ByteArena.h"
#include "framework/files/FileStamp.h"

namespace fw::detail {

struct FolderEntry {
  enum Kind : char { File = 'f', Folder = 'd', Other = 'o' };
  // What is known of a listed file's first line.
  enum Line : std::uint8_t { Unknown, Held, Unreadable };
  // How the first line ends in the file. Cut: it goes on past the bytes
  // held (FirstLineCache::kHeldLine), and where it ends is not read.
  enum LineEnd : std::uint8_t { NoEnd, CR, LF, CRLF, Cut };
  static constexpr std::size_t kInlineName = 24;  // a call file's name has 19 or 20 bytes

  // A short name lies in the entry itself; a longer one in the snapshot's names.
  union {
    char nameInline[kInlineName];
    const char* nameData;
  };
  const char* lineData;  // Held: the first line, in the cache's bytes
  // Held and checked by stat: the file's stat when the line was read, kept
  // by the cache; null for a line the change events keep current.
  FileStamp* stamp;
  std::uint32_t lineSize;
  std::uint32_t lineChunk;
  std::uint16_t nameSize;
  Kind kind;
  bool text;  // Mac type "TEXT"
  Line line;
  LineEnd lineEnd;
  bool more;  // bytes follow the first line and its end

  FolderEntry(std::string_view name, ByteArena& names, Kind k, bool isText);
  std::string_view Name() const { return {nameSize <= kInlineName ? nameInline : nameData, nameSize}; }
  // Takes over what other knows of the same file's first line.
  void TakeLine(FolderEntry& other);
};

class FolderSnapshot {
 public:
  using Entries = std::vector<FolderEntry>;
  // Whether the regular file of that name is "TEXT".
  using TextTest = std::function<bool(std::string_view name)>;

  const Entries& entries() const { return entries_; }
  Entries& entries() { return entries_; }
  // Moves whenever entries move or are dropped: an index taken before is stale.
  std::uint64_t generation() const { return generation_; }
  void Moved() { ++generation_; }

  // Reads the folder at path afresh. Each entry keeps what was known of the
  // same name's line; the entries of names gone are left in gone. False, with
  // errno set, when the folder could not be read to its end: entries then
  // stay as they were.
  bool Read(const String& path, const TextTest& isText, Entries& gone);

  Entries::iterator LowerBound(std::string_view name);
  const FolderEntry* Find(std::string_view name, std::size_t* index = nullptr) const;
  // An entry's place, for one found by LowerBound.
  bool Holds(Entries::iterator it, std::string_view name) const { return it != entries_.end() && it->Name() == name; }
  void Insert(Entries::iterator at, std::string_view name, FolderEntry::Kind kind, bool text);
  // Names none of which is held yet, in any order: one merge for them all,
  // where inserting each in turn would move the entries after it every time.
  void InsertAll(std::vector<std::string_view> names, FolderEntry::Kind kind, bool text);
  // The caller forgets the entry's line first.
  void Erase(Entries::iterator it);
  void Clear();
  // Copies long names into a fresh arena once most of the old is waste.
  bool NamesWasteful() const { return names_.Wasteful(); }
  void CompactNames();

 private:
  Entries entries_;
  ByteArena names_;
  std::uint64_t generation_ = 0;
};

// The path of name inside folder; an absolute name counts as relative.
String JoinPath(const String& folder, std::string_view name);

}  // namespace fw::detail
