#pragma once
// What stands behind a TextInputStream and a TextOutputStream.
#include <memory>

#include "framework/TextInputStream.h"
#include "framework/TextOutputStream.h"
#include "framework/qt/FolderListing.h"

namespace fw {

// Bytes already in memory (a cached small file) and, when fd is open, the
// rest of the file after them.
class TextInputStream::Backing {
 public:
  Backing(String bytes, int fd) : buf(std::move(bytes)), fd(fd) {}
  ~Backing();
  // Reads more of the file; false at its end.
  bool Fill();
  void CloseFd();

  String buf;
  std::size_t pos = 0;
  int fd = -1;
  String path;  // for error reports
};

// A new file is gathered in memory and spilled into a hidden temporary in
// the target's folder only when it grows large; Close writes the rest,
// syncs and renames it over the target. Nothing touches the folder before
// Close for a small file, so a folder that turns read-only meanwhile is left
// without debris.
class TextOutputStream::Backing {
 public:
  Backing(std::shared_ptr<detail::FolderListing> listing, String folder, String name)
      : listing(std::move(listing)), folder(std::move(folder)), name(std::move(name)) {}
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

 private:
  bool OpenTemp();
  bool WritePending();
  void Fail(const char* step);
};

}  // namespace fw
