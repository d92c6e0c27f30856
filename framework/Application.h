#pragma once
#include <map>

#include "framework/Runtime.h"

namespace fw {

class MenuBar;

class Application : public Object {
 public:
  Application();

  Ref<fw::MenuBar> MenuBar() const { return menuBar_; }
  void MenuBar(Ref<fw::MenuBar> bar);  // also the menu bar of every window that has none

  // Registers the handler for the menu item of that Name.
  void _AddMenuHandler(const String& itemName, std::shared_ptr<Delegate<bool()>> handler);
  // Dispatches a chosen menu item to its handler; false when none handled it.
  bool HandleMenuItem(const String& itemName);

  Event<void()> Open{this, "Open"};
  // True cancels the quit.
  Event<bool()> CancelClose{this, "CancelClose"};
  // The process is being ended by a signal (SIGTERM, SIGINT, SIGHUP): the
  // last chance to save work before the run ends, without asking the user.
  Event<void()> Terminating{this, "Terminating"};

 private:
  Ref<fw::MenuBar> menuBar_;
  std::map<String, std::shared_ptr<Delegate<bool()>>> menuHandlers_;
};

// The framework's quit action: raises CancelClose and, unless it returned
// True, ends the event loop. Returns true when the quit goes ahead.
bool Quit();

}  // namespace fw
