#include "framework/qt/SharedText.h"

#include <cstring>

namespace fw::detail {

namespace {
// One event-loop thread hands out lines and adds rows; a thread of its own
// (a test's) gets its own note.
thread_local ClaimedLine lastLine;
}  // namespace

void NoteLineHandedOut(const BytesOwner* owner, const char* data, std::size_t size) {
  lastLine = ClaimedLine{owner, data, size};
}

void ForgetLineHandedOut(const BytesOwner* owner) {
  if (lastLine.owner == owner) lastLine = ClaimedLine{};
}

bool ClaimLineHandedOut(const String& row, ClaimedLine& out) {
  if (!lastLine.owner || !*lastLine.owner) return false;
  // The bytes decide, not where the string came from: equal bytes shown from
  // the cache are the same row.
  bool same = row.size() == lastLine.size && std::memcmp(row.data(), lastLine.data, row.size()) == 0;
  if (same) out = lastLine;
  lastLine = ClaimedLine{};
  return same;
}

}  // namespace fw::detail
