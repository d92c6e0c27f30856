#include "ui/Window1_ipServer.h"

fw::ClassRecord Window1_ipServer::Record() {
  return fw::ClassBuilder<Window1_ipServer, fw::ServerSocket>("Window1.ipServer", "ServerSocket")
      .Operations({"_SetWindow", "Window", "_Index", "_SetIndex", "Constructor"});
}

// Held weakly: the window owns its controls, not the other way round.
void Window1_ipServer::_SetWindow(fw::Ref<fw::Window> w) { ownerWindow = w.shared(); }

fw::Ref<fw::Window> Window1_ipServer::Window() {
  return fw::Ref<fw::Window>(std::dynamic_pointer_cast<fw::Window>(ownerWindow.lock()));
}

fw::Int32 Window1_ipServer::_Index() { return Index; }

void Window1_ipServer::_SetIndex(fw::Int32 index) { Index = index; }

// The listener's settings come from its property block.
void Window1_ipServer::Constructor() {}
