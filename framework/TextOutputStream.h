#pragma once
#include <functional>

#include "framework/Object.h"

namespace fw {

// Raised by Close when an item of the file's name appeared meanwhile and was
// left in place: the stream never replaces an item that did not exist when
// the file was created (see TextOutputStream).
class NameTakenException : public IOException {
 public:
  using IOException::IOException;
};

class SyncBatch;

// Output to a new text file. The file appears whole or not at all: it is
// written under a temporary name, synced, and only then put in place under
// its own name by Close, which syncs the folder after. Close raises
// IOException when the file cannot be made durable or put in place; the
// target is then left as it was. Once the file is durable and in place it
// stays there: a folder that cannot be synced after is said once on
// standard error, and should a power cut take the new name, the temporary
// is back, whole, for the next copy of the program to put in place
// (FolderItem::FinishLeftovers).
//
// Close replaces an item of the name only if it existed when the file was
// created (so rewriting a settings file works); an item that appeared since
// is kept, and Close puts the file under the name that OnNameTaken gives, or
// raises NameTakenException when none was given.
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
  // Asked for another name in the same folder each time the file's name
  // turns out to be taken when it is put in place, also by a SyncBatch's
  // Commit; the file is never put in place over an item.
  void OnNameTaken(std::function<String()> nextName);
  void Close();
  // Writes the file to its temporary and leaves it to batch, which puts it in
  // place once its bytes are durable (see SyncBatch). The batch must commit
  // before the file counts as written.
  void Close(SyncBatch& batch);
  // The file's name in its folder; another one once OnNameTaken gave one.
  String Name() const;
  // True once the file stands under Name(). A file closed in a SyncBatch is
  // put in place by its Commit; Failure says why it was not (empty while it
  // waits, and once it is in place).
  bool Published() const;
  String Failure() const;

 private:
  std::shared_ptr<Backing> b_;  // shared with a SyncBatch that holds the file back
};

// Many small files made one after another cost two syncs each. A file closed
// into a SyncBatch is written to its temporary and held back; Commit makes
// them all durable together (one syncfs of each file system involved), only
// then puts each in place, in the order they were closed, and syncs each
// folder once. No file carries its own name while its bytes might not
// survive a power cut. When that one sync fails (it also reports write-back
// errors of other programs on the same disk), each file is synced on its
// own: those that sync are put in place, the others are removed and tell why
// through Failure. A folder that cannot be synced after its files were put
// in place is said once on standard error, as by Close; the files stay and
// count as written. A batch left without Commit commits in its destructor.
class SyncBatch {
 public:
  SyncBatch();
  ~SyncBatch();
  SyncBatch(const SyncBatch&) = delete;
  SyncBatch& operator=(const SyncBatch&) = delete;
  void Commit();

  struct State;

 private:
  friend class TextOutputStream;
  std::unique_ptr<State> s_;
};

}  // namespace fw
