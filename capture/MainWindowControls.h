#pragma once
// The main window's controls that capture writes, fetched anew by name on
// each use through the window's single instance (created on first use).
#include "framework/ProgressWheel.h"
#include "framework/StaticText.h"
#include "ui/Window1.h"

namespace capture {

template <class T>
fw::Ref<T> MainWindowControl(const char* name) {
  return fw::RuntimeCheckCast<T>(fw::RuntimeWindowControlByName(Window1(), name));
}

inline fw::Ref<fw::StaticText> PortStatus() { return MainWindowControl<fw::StaticText>("portStatus"); }
inline fw::Ref<fw::StaticText> BufferView() { return MainWindowControl<fw::StaticText>("bufferview"); }
inline fw::Ref<fw::ProgressWheel> SerialOpenWheel() { return MainWindowControl<fw::ProgressWheel>("serialOpen"); }

}  // namespace capture
