#pragma once
#include <functional>

#include "framework/Object.h"

namespace fw {

class TextInputStream;
class TextOutputStream;

// A file or folder, whether or not it exists.
class FolderItem : public Object {
 public:
  FolderItem();  // for the runtime; use FromPath
  ~FolderItem() override;
  static Ref<FolderItem> FromPath(const String& path);

  String Name() const;
  String NativePath() const;
  Ref<FolderItem> Parent() const;
  // The item of that name inside this folder, whether or not it exists.
  Ref<FolderItem> Child(const String& name) const;
  bool Exists() const;
  // Whether this folder holds an item of that name. Where the folder is
  // watched it is answered from its listing, without a system call, and may
  // miss what another process made a moment ago: a check before choosing a
  // new name, whose making must still refuse one that is taken.
  bool HasChild(const String& name) const;
  bool Directory() const;
  void CreateAsFolder();  // failure shows as Exists() staying false
  void Delete();
  // Items of a folder, numbered from 1 in byte order of their names. The
  // listing is cached and kept current in place by the folder's change
  // events (unwatched: by one stat of the folder a pass), so asking Count and
  // Item on every pass of a loop costs no new reading. Item out of range is nil.
  Int32 Count() const;
  Ref<FolderItem> Item(Int32 index) const;
  // "TEXT" for a file made by CreateTextFile or a regular file named *.txt;
  // "fold" for a folder; "" for anything else.
  String MacType() const;
  Ref<TextInputStream> OpenAsTextFile() const;  // nil when it cannot be opened
  // Nil when it cannot be made; why, when given, then says what the system
  // said ("Permission denied"). Close publishes the file whole; it replaces
  // only an item that stood under the name when CreateTextFile was called.
  Ref<TextOutputStream> CreateTextFile(String* why = nullptr) const;
  // Size in bytes of the regular file it names; 0 for anything else.
  std::int64_t Length() const;
  // For a folder: finishes the files that copies of the program no longer
  // running left in it unfinished. Each file such a copy had written whole
  // but not yet put in place is put in place now, in the order it was
  // written, under the name nextName gives, never over an item; the count of
  // them is returned. The bytes of a file it was still writing go to
  // unfinished with why, and the file is removed. Files of a copy still
  // running are not touched. Raises nothing; a failure is said on standard
  // error and leaves the file for a later start.
  Int32 FinishLeftovers(const std::function<String()>& nextName,
                        const std::function<void(const String& text, const String& why)>& unfinished);

 private:
  class Backing;  // framework/files/FolderItem.cpp
  std::unique_ptr<Backing> b_;
};

// Volume 0 is the startup volume: "/", or TALLYPOINT_STARTUP_VOLUME when set.
Ref<FolderItem> Volume(Int32 index);

struct SpecialFolder {
  // $XDG_CONFIG_HOME, or ~/.config where that is unset.
  static Ref<FolderItem> Preferences();
};

}  // namespace fw
