#include "framework/qt/SharedText.h"

#include <cstring>

namespace fw::detail {

namespace {
// One event-loop thread hands out lines and adds rows; a thread of its own
// (a test's) gets its own note.
thread_local SharedBytes lastLine;
}  // namespace

void NoteLineHandedOut(std::shared_ptr<const void> owner, const char* data, std::size_t size) {
  lastLine.owner = std::move(owner);
  lastLine.data = data;
  lastLine.size = size;
}

bool ClaimLineHandedOut(const String& row, SharedBytes& out) {
  if (!lastLine.owner) return false;
  // The bytes decide, not where the string came from: equal bytes shown from
  // the cache are the same row.
  bool same = row.size() == lastLine.size && std::memcmp(row.data(), lastLine.data, row.size()) == 0;
  if (same) out = std::move(lastLine);
  lastLine = SharedBytes{};
  return same;
}

}  // namespace fw::detail
