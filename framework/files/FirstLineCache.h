#pragma once
// The first line of each text file of a folder, read once and served from
// memory after that. Lines lie in append-only chunks in listing order; the
// list rows that show one share its bytes (TextLine), so the cache costs no
// second copy and has no budget past which files are read again. Of a line
// longer than kHeldLine only the start is held, which is all a row shows: a
// stream reads the rest from the file, and only if it is asked for.
//
// While the folder is watched its change events say when a line goes stale.
// Otherwise each held line carries the stat of the file it was read from
// (a FileStamp) and is served only while one stat of the file still matches.
#include <sys/stat.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string_view>
#include <vector>

#include "framework/Object.h"
#include "framework/files/ByteArena.h"
#include "framework/files/FileStamp.h"
#include "framework/files/FolderSnapshot.h"

namespace fw::detail {

// What a stream needs of a held first line.
struct HeldLine {
  std::shared_ptr<const void> owner;
  const char* data = nullptr;
  std::size_t size = 0;
  FolderEntry::LineEnd end = FolderEntry::NoEnd;
  bool more = false;
};

class FirstLineCache {
 public:
  enum class Got { NotRead, Failed, Read };
  // Far beyond any call record, far below a flood's pieces of 16 MiB.
  static constexpr std::size_t kHeldLine = 64 * 1024;

  // Reads the first line of entry from the file at path, at most kHeldLine
  // bytes of it, and holds it; with stamped, together with the file's stat.
  // NotRead: gone, no permission, or no longer a regular file. Failed: it
  // cannot be read (a bad sector), remembered until the file changes.
  Got ReadInto(FolderEntry& entry, const char* path, bool stamped);
  // Reads the lines of every text file of entries not yet held, several at
  // once: the first listing of a folder of years.
  void ReadAhead(const String& folder, FolderSnapshot::Entries& entries, bool stamped);
  // Holds the first line of content this process has just written.
  void HoldWritten(FolderEntry& entry, std::string_view content);
  // True when the line held for entry was read from the file stat describes.
  static bool StillCurrent(const FolderEntry& entry, const struct stat& st);

  void Serve(const FolderEntry& entry, HeldLine& out) const;
  void Forget(FolderEntry& entry);
  void ForgetAll(FolderSnapshot::Entries& entries);
  void Clear();
  // Copies the held lines into a fresh arena once most of the old is waste.
  void CompactIfWasteful(FolderSnapshot::Entries& entries);

 private:
  void Hold(FolderEntry& e, std::string_view line, FolderEntry::LineEnd end, bool more, const FileStamp* stamp);
  ByteArena lines_;
  // The stamps of held lines (FolderEntry::stamp), at addresses that stay
  // put; the place of a forgotten one is taken by the next.
  std::deque<FileStamp> stamps_;
  std::vector<FileStamp*> freeStamps_;
};

}  // namespace fw::detail
