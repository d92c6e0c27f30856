#include "support/Records.h"

#include <algorithm>
#include <cstdio>

namespace tptest {

std::vector<std::string> ExpectedRecords(std::string_view input, bool withTail) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : input) {
    if (c == '\r' || c == '\n') {
      if (!cur.empty()) out.push_back(std::move(cur));
      cur.clear();
    } else if (c != '\0') {
      cur.push_back(c);
    }
  }
  if (withTail && !cur.empty()) out.push_back(std::move(cur));
  return out;
}

std::vector<std::string> RandomSplits(const std::string& data, std::mt19937_64& rng, size_t maxPiece) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < data.size()) {
    size_t n = std::uniform_int_distribution<size_t>(1, maxPiece)(rng);
    if (rng() % 8 == 0) n = 1;
    n = std::min(n, data.size() - i);
    out.push_back(data.substr(i, n));
    i += n;
  }
  return out;
}

std::string Printable(std::string_view s, size_t max) {
  std::string o;
  for (size_t i = 0; i < s.size() && i < max; ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 32 && c < 127) o += static_cast<char>(c);
    else {
      char b[8];
      std::snprintf(b, sizeof b, "\\x%02x", c);
      o += b;
    }
  }
  if (s.size() > max) o += "...(" + std::to_string(s.size()) + " bytes)";
  return o;
}

}  // namespace tptest
