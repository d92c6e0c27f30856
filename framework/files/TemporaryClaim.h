#pragma once
// The hidden temporaries a file is written to before it takes its name, and
// whose they are.
//
// A writer first takes a claim on the folder: a lock file ".tp-<token>.lock"
// (token random) that it keeps locked with flock while any temporary of the
// claim exists, and removes when the last one is gone. Its temporaries are
// ".tp-<token>-<seq>.tmp", seq rising in the order they are made. The kernel
// releases a flock with its holder however that ends, also by SIGKILL: a
// lock that can be taken tells a later copy of the program that what is left
// under the token is nobody's any more (LeftoverTemporaries). A pid would
// not tell that: copies sharing a folder may run in different PID namespaces.
//
// A temporary is made with no permission bits and given its file's mode only
// after its last byte is written (MarkWhole): a writer killed in between
// leaves it unmarked, and an empty one is never whole.
#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "framework/Object.h"
#include "framework/system/FileDescriptor.h"

namespace fw::detail {

class TemporaryClaim {
 public:
  // A new claim on folder, its lock taken; nullptr with errno set when the
  // lock file cannot be made.
  static std::shared_ptr<TemporaryClaim> Take(const String& folder);
  // Removes the lock file while still holding it, then lets go of it.
  ~TemporaryClaim();
  TemporaryClaim(const TemporaryClaim&) = delete;
  TemporaryClaim& operator=(const TemporaryClaim&) = delete;

  // Makes the claim's next temporary, empty and unmarked; path is set to it.
  // markable is false where the file system keeps no permission bits, so
  // that the file cannot be marked and must not be. Invalid with errno set
  // when it cannot be made.
  FileDescriptor NewTemporary(String& path, bool& markable);

 private:
  TemporaryClaim(String folder, String token, FileDescriptor lock);
  String folder_, token_;
  FileDescriptor lock_;
  std::uint64_t next_ = 0;
  // Whether the folder's file system keeps the mode: learnt from the first
  // temporary, the same for every later one.
  std::optional<bool> markable_;
};

// Whether the lock file open as lock is still the one named name in folder
// (a descriptor, or AT_FDCWD for a path): a copy finishing a dead claim
// removes its lock, and one opened just before that holds nothing.
bool StillNamed(const FileDescriptor& lock, int folder, const String& name);

// Gives a temporary written to its last byte its file's mode.
bool MarkWhole(int fd);
// Whole: marked, and not empty.
bool IsWhole(const struct stat& st);

// The parts of a hidden temporary's or lock file's name.
struct TemporaryName {
  String token;
  std::uint64_t seq = 0;
};
std::optional<TemporaryName> ParseTemporaryName(std::string_view name);
std::optional<String> ParseLockName(std::string_view name);
String LockName(const String& token);

}  // namespace fw::detail
