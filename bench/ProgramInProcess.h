#pragma once
// The program started inside a benchmark's process the way main() starts it,
// on the startup volume root/volume with its Preferences folder root/prefs
// and its message boxes logged to root/modal.log. The Open event is left to
// the caller.
#include <cstdlib>
#include <memory>
#include <string>

#include "capture/Startup.h"
#include "framework/Delegate.h"
#include "framework/Runtime.h"
#include "reliability/Harness.h"

inline void StartProgramIn(const std::string& root, int argc, char** argv) {
  rel::fs::create_directories(root + "/volume");
  rel::fs::create_directories(root + "/prefs");
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("TALLYPOINT_STARTUP_VOLUME", (root + "/volume").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (root + "/prefs").c_str(), 1);
  setenv("TALLYPOINT_MODAL_LOG", (root + "/modal.log").c_str(), 1);
  fw::RuntimeInit(argc, argv);
  fw::RegisterFrameworkClasses();
  startup::RegisterProgramClasses();
  fw::_RunFrameworkInitialization(
      std::make_shared<fw::Delegate<void()>>([] { startup::_Startup(); }, "startup._Startup"));
}
