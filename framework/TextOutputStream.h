#pragma once
#include "framework/Object.h"

namespace fw {

// Raised by Close when an item of the file's name appeared meanwhile and was
// left in place: the stream never replaces an item that did not exist when
// the file was created (see TextOutputStream).
class NameTakenException : public IOException {
 public:
  using IOException::IOException;
};

// Output to a new text file. The file appears whole or not at all: it is
// written under a temporary name and put in place by Close, which flushes and
// syncs it and its folder. Close raises IOException when that fails; the
// target is then left as it was.
//
// Close replaces an item of the name only if it existed when the file was
// created (so rewriting a settings file works); an item that appeared since
// is kept, and Close raises NameTakenException.
class TextOutputStream : public Object {
 public:
  class Backing;
  explicit TextOutputStream(std::unique_ptr<Backing> b);
  ~TextOutputStream() override;  // a stream never closed is discarded
  void Write(const String& s);      // adds no line end
  void WriteLine(const String& s);  // adds LF
  // Close will not replace any item, not even one that existed at creation:
  // for files that must never take another's place.
  void NeverReplace();
  void Close();

 private:
  std::unique_ptr<Backing> b_;
};

// Many small files made one after another cost two syncs each. While a
// SyncBatch exists, Close publishes each file without syncing it or its
// folder, and Commit makes them all durable together (one sync of each file
// system and folder involved). When that sync fails, no file of the batch can
// count as written: the ones it published are removed again (as Close does
// for one file whose folder cannot be synced) and Commit raises IOException.
// A batch left without Commit commits in its destructor and drops the error.
// A batch made while another exists joins it: only the outer one commits.
class SyncBatch {
 public:
  SyncBatch();
  ~SyncBatch();
  SyncBatch(const SyncBatch&) = delete;
  SyncBatch& operator=(const SyncBatch&) = delete;
  void Commit();  // raises IOException

  struct State;

 private:
  std::unique_ptr<State> s_;  // null for a batch that joined another
};

}  // namespace fw
