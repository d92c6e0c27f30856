#pragma once
// Text held once and shown from where it is held. A call file's first line is
// kept by the folder's cache; the list row that shows it refers to those
// bytes instead of keeping a copy, so a folder of years, or one record of
// 128 MiB, is held in memory once.
//
// A stream notes each held line it hands out; a list given a row with exactly
// those bytes keeps a reference instead of the string. The note names the
// stream's own reference to the bytes' owner, so that a list whose last row
// came from the same chunk of the cache takes no new reference at all.
#include <cstddef>
#include <memory>

#include "framework/Object.h"

namespace fw::detail {

using BytesOwner = std::shared_ptr<const void>;

// Called by a stream that hands out a line whose bytes *owner keeps alive.
// The stream calls ForgetLineHandedOut before *owner changes or goes.
void NoteLineHandedOut(const BytesOwner* owner, const char* data, std::size_t size);
void ForgetLineHandedOut(const BytesOwner* owner);

struct ClaimedLine {
  const BytesOwner* owner = nullptr;  // valid for the duration of the claim
  const char* data = nullptr;
  std::size_t size = 0;
};
// If row holds exactly the bytes of the line last handed out, fills out and
// returns true. Forgets the note either way: a line is claimed once.
bool ClaimLineHandedOut(const String& row, ClaimedLine& out);

}  // namespace fw::detail
