#include "framework/Application.h"

#include "framework/RuntimeInternal.h"

namespace fw {

Application::Application() = default;

void Application::MenuBar(Ref<fw::MenuBar> bar) { menuBar_ = std::move(bar); }

void Application::_AddMenuHandler(const String& itemName, std::shared_ptr<Delegate<bool()>> handler) {
  menuHandlers_[itemName] = std::move(handler);
}

bool Application::HandleMenuItem(const String& itemName) {
  auto it = menuHandlers_.find(itemName);
  if (it == menuHandlers_.end() || !it->second) return false;
  auto handler = it->second;  // kept alive even if the handler replaces itself
  try {
    return handler->Invoke();
  } catch (const std::exception& e) {
    RuntimeUnhandledException(e, handler->OperationName());
  } catch (...) {
    RuntimeUnhandledException(std::runtime_error("unknown exception"), handler->OperationName());
  }
  return false;
}

bool Quit() {
  // The confirmation is modal: a second request while it is up (a second
  // Ctrl+Q, the window's close button) must not stack another one. One for
  // the process, as the application object is.
  static bool confirming = false;
  if (confirming) return false;
  bool cancelled = false;
  if (Ref<Application> app = _GetAppObject()) {
    confirming = true;
    cancelled = app->CancelClose.Raise();
    confirming = false;
  }
  if (cancelled) return false;
  detail::EndRun(0);
  return true;
}

}  // namespace fw
