#pragma once
// The live window of each class. Strong references: the program reaches its
// windows through this registry only and stores none itself.

#include "framework/Window.h"

namespace fw::gui {

// w becomes the live window of its class; one it replaces is let go later.
void MakeLiveWindow(const String& className, Ref<Window> w);
// w is no longer live, if it was.
void EndLiveWindow(const String& className, const Window* w);
// nil when none.
Ref<Window> LiveWindow(const String& className);

}  // namespace fw::gui
