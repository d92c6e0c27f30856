#pragma once
// What both input classes do with the bytes of one delivery.
#include "framework/Object.h"

namespace capture {

class SourceLine;

// Every line end becomes one CR and NULs go: LF to CR, then CR CR to CR (one
// pass), then NULs removed. The order matters: CR NUL CR stays CR CR.
fw::String NormaliseInput(const fw::String& raw);

// Takes one delivery of source, already read, towards the input buffer (its
// whole lines go in, its unfinished line stays its own) and arms the
// processing timer.
void AppendDelivery(SourceLine& source, const fw::String& raw);

}  // namespace capture
