#pragma once
// What copies of the program that are no longer running left in a folder:
// temporaries written whole that never took their names (a copy killed
// between writing its files and naming them, or a name that a power cut
// took), and temporaries they were still writing. Whose a temporary is, and
// whether that copy still runs, its claim's lock tells (TemporaryClaim).
#include <sys/stat.h>

#include <functional>
#include <vector>

#include "framework/Object.h"
#include "framework/files/TemporaryClaim.h"
#include "framework/system/FileDescriptor.h"

namespace fw::detail {

class FolderListing;
class OwnChange;

class LeftoverTemporaries {
 public:
  using NextName = std::function<String()>;
  using Unfinished = std::function<void(const String& text, const String& why)>;

  LeftoverTemporaries(String folder, FolderListing& listing);

  // Takes the lock of every claim whose copy has ended, then makes their
  // whole temporaries durable (one syncfs) and puts each in place under the
  // name nextName gives, never over an item, claim by claim in the order
  // their files were made, and syncs the folder once. An unfinished
  // temporary holding bytes is handed to unfinished with them (nothing else
  // holds them) and removed; an empty one is removed. A temporary of a copy
  // still running is never touched, and of two copies finishing at once
  // each claim is finished by one. Returns how many were put in place.
  int Finish(const NextName& nextName, const Unfinished& unfinished);

 private:
  struct Left {
    String name;
    std::uint64_t seq = 0;
    struct stat st {};
  };
  struct Claim {
    String token;
    FileDescriptor lock;  // held: its copy has ended
    std::vector<Left> files;
  };

  // Hands every ".tp-" name in the folder to found; false when it cannot be read.
  bool List(const std::function<void(std::string_view)>& found) const;
  FileDescriptor TakeEnded(const String& token) const;
  // Reads an unfinished temporary's bytes; false when they cannot be read.
  bool ReadBytes(const String& name, String& bytes) const;
  // For a whole temporary that cannot be made durable: its bytes go to
  // unfinished, as for an unfinished one.
  void GiveUp(const Left& f, const String& why, const Unfinished& unfinished);
  // Renames f to the first name nextName gives that is free; false when it
  // cannot (stopped_ set when the rest would fail as well).
  bool PutInPlace(const Left& f, const NextName& nextName, OwnChange& change);
  String PathOf(const String& name) const;
  // A file of the folder, for reading, never through a link or a FIFO's wait.
  FileDescriptor OpenToRead(const String& name) const;

  const String folder_;
  FolderListing& listing_;
  FileDescriptor dir_;
  bool stopped_ = false;
};

}  // namespace fw::detail
