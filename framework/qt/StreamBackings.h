#pragma once
// What stands behind a TextInputStream and a TextOutputStream.
#include <memory>

#include "framework/TextInputStream.h"
#include "framework/TextOutputStream.h"
#include "framework/qt/FolderListing.h"

namespace fw {

// An open file read into buf as needed, or a cached small file read in
// place, without a copy: a list rebuild opens every call file.
class TextInputStream::Backing {
 public:
  explicit Backing(int fd) : fd(fd) {}
  explicit Backing(std::shared_ptr<const detail::FolderListing::CachedFile> file) : cached(std::move(file)) {}
  ~Backing();
  // Reads more of the file into buf; false at its end.
  bool Fill();
  void CloseFd();
  // Everything read so far; the same object until Close.
  const String& Data() const { return cached ? cached->bytes : buf; }

  String buf;
  std::shared_ptr<const detail::FolderListing::CachedFile> cached;
  std::size_t pos = 0;
  int fd = -1;
  String path;  // for error reports
};

// A new file is gathered in memory and spilled into a hidden temporary in
// the target's folder only when it grows large; Close writes the rest,
// syncs and puts it in place under the target's name, replacing only an item
// that was there at creation. Nothing touches the folder before Close for a
// small file, so a folder that turns read-only meanwhile is left without
// debris.
class TextOutputStream::Backing {
 public:
  Backing(std::shared_ptr<detail::FolderListing> listing, String folder, String name);
  ~Backing();
  void Append(const String& s);
  void Commit();  // raises IOException
  void Discard();

  std::shared_ptr<detail::FolderListing> listing;
  String folder, name;
  String pending;       // not yet written to the temporary
  String whole;         // everything written, while it is small enough to cache
  bool wholeValid = true;
  String tempPath;
  int fd = -1;
  int error = 0;        // errno of the first failure
  String failedStep;
  bool closed = false;
  bool mayReplace = false;  // an item of the name existed at creation

 private:
  bool OpenTemp();
  bool WritePending();
  void Fail(const char* step);
  int Publish(const String& target);  // 0 or errno
};

}  // namespace fw
