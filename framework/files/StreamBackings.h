#pragma once
// What stands behind a TextInputStream and a TextOutputStream.
#include <sys/types.h>

#include <functional>
#include <memory>

#include "framework/TextInputStream.h"
#include "framework/TextOutputStream.h"
#include "framework/files/FirstLineCache.h"
#include "framework/files/FolderListing.h"
#include "framework/files/TemporaryClaim.h"
#include "framework/system/FileDescriptor.h"

namespace fw {

// An open file read into buf as needed, or a first line held by the
// folder's cache, handed out without reading the file; the file is opened
// only if more than that line is asked for. A list rebuild of a watched
// folder opens no call file it has read before. Of a line held only in part
// the stream hands out a partial line (TextLine), which reads the whole line
// from the file when it is used as a string.
class TextInputStream::Backing {
 public:
  explicit Backing(detail::FileDescriptor file) : fd(std::move(file)) {}
  Backing(detail::HeldLine line, String path) : held(std::move(line)), holding(true), path(std::move(path)) {}
  // Starts over on the line just put in held, as a new stream would.
  void Restart(String linePath) {
    CloseFd();
    buf.clear();
    holding = true;
    served = false;
    pos = 0;
    path = std::move(linePath);
  }
  ~Backing();
  // Reads more of the file into buf; false at its end.
  bool Fill();
  void CloseFd();
  // Leaves the held line for the file itself, from where the stream stands.
  void Unhold();
  // Opens the file at path to read on from offset.
  void OpenAt(off_t offset);
  // Reads past the line the file starts with and its end, keeping none of it.
  void SkipLine();

  String buf;  // everything read so far; the same object until Close
  detail::HeldLine held;
  bool holding = false;  // reading from held, not yet from buf and fd
  bool served = false;   // the held line has been handed out
  std::size_t pos = 0;
  detail::FileDescriptor fd;
  String path;  // for error reports, and to read past a held line
};

// A new file is gathered in memory and spilled into a hidden temporary in
// the target's folder only when it grows large; Close writes the rest, marks
// the temporary whole, syncs it and puts it in place under the target's
// name, replacing only an item that was there at creation, and tells the
// folder's listing (OwnChange). Nothing touches the folder before Close for
// a small file, so a folder that turns read-only meanwhile is left without
// debris. Closed into a SyncBatch, it stops once the temporary is written
// and the batch puts it in place after the one sync. The temporary belongs
// to a claim on the folder (TemporaryClaim): the batch's, or its own.
class TextOutputStream::Backing : public std::enable_shared_from_this<Backing> {
 public:
  // exists: an item of the name was there when the file was created.
  Backing(std::shared_ptr<detail::FolderListing> listing, String folder, String name, bool exists);
  ~Backing();
  void Append(const String& s);
  void Close(SyncBatch::State* batch);  // null: on its own; raises IOException
  // Removes the temporary, or where it cannot, leaves it empty.
  void Discard();
  // For a batch, after its sync failed: syncs the temporary on its own, or
  // removes it and notes why.
  bool SyncAlone();
  // For a batch: puts the synced temporary in place, or notes why not and
  // removes it. The caller tells the folder's listing (OwnChange).
  bool PutHeldInPlace();

  enum State { Writing, Held, InPlace, Failed };

  std::shared_ptr<detail::FolderListing> listing;
  String folder, name;
  String pending;       // not yet written to the temporary
  String whole;         // everything written, up to two bytes past the first line's end
  std::size_t lineEndAt = String::npos;
  String tempPath;
  detail::FileDescriptor fd;
  std::shared_ptr<detail::TemporaryClaim> claim;  // held while the temporary exists
  bool markable = false;  // the file system keeps the mode that marks it whole
  int error = 0;        // errno of the first failure
  String failedStep;
  bool closed = false;
  bool mayReplace = false;  // an item of the name existed at creation
  std::function<String()> nextName;
  State state = Writing;
  String failure;  // Failed: why

 private:
  bool OpenTemp();
  bool WritePending();
  void Fail(const char* step);
  int Publish(const String& target);  // 0 or errno
  // Publishes under name, or under the names nextName gives while it is
  // taken. 0 or errno.
  int PutInPlace();
  String FailureText() const;
};

}  // namespace fw
