#pragma once
// A line read from a text file. Where the folder's cache holds the line, the
// line shares the cache's bytes, as Qt's strings share theirs, instead of
// copying them: a list row made from it shows the same bytes, so a folder of
// years is held in memory once.
//
// Of a very long line (a flood cut into call files of 16 MiB) the cache
// holds only the start. A line made from such a start is partial: it shows
// the bytes held, and reads itself whole from its file (WholeLineSource) each
// time it is used as a string, so a list of such rows holds no megabytes.
#include <memory>
#include <ostream>
#include <string_view>

#include "framework/Object.h"

namespace fw {

// Where the whole of a line held only in part is read from.
class WholeLineSource {
 public:
  virtual ~WholeLineSource() = default;
  // The whole line as its file holds it now; start (the bytes held) where
  // the file can no longer be read.
  virtual String WholeLine(std::string_view start) const = 0;
};

class TextLine {
 public:
  using Owner = std::shared_ptr<const void>;
  using Source = std::shared_ptr<const WholeLineSource>;
  TextLine() = default;
  TextLine(String own) : own_(std::move(own)) {}  // NOLINT: a string is a line
  // Bytes that owner keeps alive and unchanged.
  TextLine(Owner owner, std::string_view bytes) : owner_(std::move(owner)), shared_(bytes) {}
  // The start of a longer line, in bytes that owner keeps alive; whole reads all of it.
  TextLine(Owner owner, std::string_view start, Source whole)
      : owner_(std::move(owner)), shared_(start), whole_(std::move(whole)) {}

  // The bytes at hand: the line, or the start of a partial one.
  std::string_view View() const { return owner_ ? shared_ : std::string_view(own_); }
  // What keeps shared bytes alive; null for a line with bytes of its own.
  const Owner& SharedOwner() const { return owner_; }
  // Set for a partial line: View holds only its start.
  const Source& WholeSource() const { return whole_; }

  String Whole() const { return whole_ ? whole_->WholeLine(View()) : String(View()); }
  operator String() const& { return Whole(); }  // NOLINT: used as a string
  operator String() && {                         // NOLINT
    if (whole_) return Whole();
    return owner_ ? String(shared_) : std::move(own_);
  }

  friend bool operator==(const TextLine& a, std::string_view b) { return a.whole_ ? a.Whole() == b : a.View() == b; }
  friend std::ostream& operator<<(std::ostream& out, const TextLine& l) {
    return l.whole_ ? out << l.Whole() : out << l.View();
  }

 private:
  String own_;
  Owner owner_;
  std::string_view shared_;
  Source whole_;
};

}  // namespace fw
