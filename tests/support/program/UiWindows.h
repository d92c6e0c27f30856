#pragma once
// Ends a test's windows so that the next test builds its own: the dialog
// first, since its closing reopens the port and writes the main window.
#include "framework/Testing.h"
#include "framework/Window.h"

namespace tptest {

// A closed window is released from the event loop; waiting for that frees
// what it held, such as the listener's port 23.
inline void CloseUiWindows() {
  for (const char* name : {"prefsWindow.prefsWindow", "Window1.Window1"}) {
    std::weak_ptr<fw::Window> gone;
    if (fw::Ref<fw::Window> w = fw::_GetImplicitWindow(name)) {
      gone = w.shared();
      w->Close();
    }
    fw::testing::RunEventLoopUntil([&] { return gone.expired(); }, 2000);
  }
}

}  // namespace tptest
