#include "framework/qt/LiveWindows.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <map>

namespace fw::gui {
namespace {

// The one live window of each class the program shows by its class name:
// process-wide, as the classes are.
std::map<String, Ref<Window>>& Registry() {
  static std::map<String, Ref<Window>> windows;
  return windows;
}

// Windows hold widgets, which must go before QApplication does.
void ReleaseWindowsAtExit() {
  static bool added = false;
  if (added) return;
  added = true;
  qAddPostRoutine([] {
    auto windows = std::move(Registry());
    Registry().clear();
    windows.clear();
  });
}

// The last reference may be the registry's; let it go once the current
// event (which may be one of the window's own) has returned.
void ReleaseLater(Ref<Window> w) {
  if (!QCoreApplication::instance()) return;
  QMetaObject::invokeMethod(QCoreApplication::instance(), [w]() mutable { w = nullptr; }, Qt::QueuedConnection);
}

}  // namespace

void MakeLiveWindow(const String& className, Ref<Window> w) {
  ReleaseWindowsAtExit();
  auto& live = Registry();
  auto it = live.find(className);
  if (it != live.end() && it->second != w) ReleaseLater(it->second);
  live[className] = std::move(w);
}

void EndLiveWindow(const String& className, const Window* w) {
  auto& live = Registry();
  auto it = live.find(className);
  if (it != live.end() && it->second.get() == w) {
    ReleaseLater(it->second);
    live.erase(it);
  }
}

Ref<Window> LiveWindow(const String& className) {
  auto& live = Registry();
  auto it = live.find(className);
  return it == live.end() ? nullptr : it->second;
}

}  // namespace fw::gui
