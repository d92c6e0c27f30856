#pragma once
// What both input classes do with the bytes of one delivery.
#include "framework/Object.h"

namespace capture {

// Every line end becomes one CR and NULs go: LF to CR, then CR CR to CR (one
// pass), then NULs removed. The order matters: CR NUL CR stays CR CR.
fw::String NormaliseInput(const fw::String& raw);

// Appends one delivery, already read, to the input buffer and arms the
// processing timer.
void AppendDelivery(const fw::String& raw);

}  // namespace capture
