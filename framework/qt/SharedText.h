#pragma once
// Text held once and shown from where it is held. A call file's first line is
// kept by the folder's cache; the list row that shows it refers to those
// bytes instead of keeping a copy, so a folder of years, or one record of
// 128 MiB, is held in memory once.
//
// A cached stream notes each line it hands out; a list given a row with
// exactly those bytes takes the reference instead of the string.
#include <cstddef>
#include <memory>

#include "framework/Object.h"

namespace fw::detail {

struct SharedBytes {
  std::shared_ptr<const void> owner;  // keeps data alive
  const char* data = nullptr;
  std::size_t size = 0;
};

// Called by a stream that hands out a line it holds in owner.
void NoteLineHandedOut(std::shared_ptr<const void> owner, const char* data, std::size_t size);
// If row holds exactly the bytes of the line last handed out, fills out and
// returns true. Forgets the note either way: a line is claimed once.
bool ClaimLineHandedOut(const String& row, SharedBytes& out);

}  // namespace fw::detail
