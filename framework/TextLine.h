#pragma once
// A line read from a text file. Where the folder's cache holds the line, the
// line shares the cache's bytes, as Qt's strings share theirs, instead of
// copying them: a list row made from it shows the same bytes, so a folder of
// years, or one record of 128 MiB, is held in memory once.
#include <memory>
#include <ostream>
#include <string_view>

#include "framework/Object.h"

namespace fw {

class TextLine {
 public:
  using Owner = std::shared_ptr<const void>;
  TextLine() = default;
  TextLine(String own) : own_(std::move(own)) {}  // NOLINT: a string is a line
  // Bytes that owner keeps alive and unchanged.
  TextLine(Owner owner, std::string_view bytes) : owner_(std::move(owner)), shared_(bytes) {}

  std::string_view View() const { return owner_ ? shared_ : std::string_view(own_); }
  // What keeps shared bytes alive; null for a line with bytes of its own.
  const Owner& SharedOwner() const { return owner_; }
  std::size_t size() const { return View().size(); }

  operator String() const& { return String(View()); }  // NOLINT: used as a string
  operator String() && { return owner_ ? String(shared_) : std::move(own_); }  // NOLINT

  friend bool operator==(const TextLine& a, std::string_view b) { return a.View() == b; }
  friend std::ostream& operator<<(std::ostream& out, const TextLine& l) { return out << l.View(); }

 private:
  String own_;
  Owner owner_;
  std::string_view shared_;
};

}  // namespace fw
