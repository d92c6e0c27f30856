#pragma once
// A line on standard error about the framework's own state, not a failure of
// the program: "TallyPoint: " and the text, in one write.
#include "framework/Object.h"

namespace fw::detail {

void Notice(const String& text);

}  // namespace fw::detail
