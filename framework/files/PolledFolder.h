#pragma once
// What stands in for the change events where a folder cannot be watched (no
// inotify instance or watch left, or a relative path): the folder's stat
// tells when its entries must be read again, and a held first line is
// served only while one stat of its file matches (FirstLineCache). The
// first time, standard error says that the folder is not watched.
#include <sys/stat.h>

#include <cstdint>

#include "framework/Object.h"
#include "framework/files/FileStamp.h"

namespace fw::detail {

class PolledFolder {
 public:
  // Says once for this folder why it is not watched.
  void NotWatched(const String& path, const String& why);
  // The folder's stat is the one its entries were last read under.
  bool Unchanged(const struct stat& st) const { return FileStamp::Of(st) == sig_; }
  // A read that must be checked by reading again: it fell within the
  // timestamp step of a change, so a change right after it may have left
  // the stat as it was.
  bool Racy() const { return racy_; }
  // Unchanged, and a racy read was checked recently enough: a listing loop
  // over a large folder must not spend more than a fifth of its time on it.
  bool Current(const struct stat& st) const;
  // The entries were read, starting at started (NowNs), with the folder as st says.
  void Read(const struct stat& st, std::int64_t started);
  // This process changed the folder, whose entries were current before if
  // wasCurrent: false when the entries must be read again.
  bool TakeOwnChange(const String& path, bool wasCurrent);

 private:
  FileStamp sig_;
  bool racy_ = false;
  bool told_ = false;
  std::int64_t lastReadEnd_ = 0, lastReadCost_ = 0;
};

}  // namespace fw::detail
