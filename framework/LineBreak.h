#pragma once
// Text is cut into lines at CR, LF or CR LF, wherever the framework cuts it:
// this is the one rule for all of them.

#include <cstddef>
#include <string_view>

namespace fw {

struct LineBreak {
  static constexpr std::size_t npos = std::string_view::npos;
  std::size_t at = npos;   // the CR or LF, npos when the text holds none
  std::size_t length = 0;  // 2 for CR LF, else 1; 0 when none
  // A CR that is the last byte of the text: where more text is still to
  // come, it may be the first half of a CR LF.
  bool crAtEnd = false;

  bool found() const { return at != npos; }
  std::size_t next() const { return at + length; }  // where the following line starts
};

// The first line break in text at or after from. A plain loop, since
// find_first_of("\r\n") searches its two-byte set once per byte of the line.
inline LineBreak FindLineBreak(std::string_view text, std::size_t from = 0) {
  for (std::size_t i = from; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\n' && c != '\r') continue;
    LineBreak b;
    b.at = i;
    b.length = c == '\r' && i + 1 < text.size() && text[i + 1] == '\n' ? 2 : 1;
    b.crAtEnd = c == '\r' && i + 1 == text.size();
    return b;
  }
  return {};
}

}  // namespace fw
