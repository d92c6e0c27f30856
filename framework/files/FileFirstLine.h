#pragma once
// Reading the first line of a file: at most a given part of it for the
// folder's cache, or all of it for a line the cache holds only the start of.
#include <cstddef>
#include <string_view>

#include "framework/Object.h"
#include "framework/TextLine.h"
#include "framework/files/FolderSnapshot.h"

namespace fw::detail {

// Reads the first line of an open regular file: its bytes, how it ends and
// whether more follows. A line longer than limit gives its first limit
// bytes, ends Cut and has more. False on a read error.
bool ReadFirstLine(int fd, std::size_t limit, String& line, FolderEntry::LineEnd& end, bool& more);

// The whole first line of the file at path, read each time it is asked for.
class FileFirstLine final : public WholeLineSource {
 public:
  explicit FileFirstLine(String path) : path_(std::move(path)) {}
  String WholeLine(std::string_view start) const override;

 private:
  String path_;
};

}  // namespace fw::detail
