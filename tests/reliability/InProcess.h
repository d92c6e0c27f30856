#pragma once
// The program started inside the test process the way main() starts it (the
// start-up routine, then the application's Open event), with its startup
// volume, Preferences folder and serial line private to the process. The
// event loop runs only while a test pumps it, and ticks can be raised
// directly instead of waiting 500 ms for each.

#include <memory>

#include "capture/App.h"
#include "capture/Startup.h"
#include "capture/customPort.h"
#include "capture/secondTimer.h"
#include "framework/Listbox.h"
#include "framework/ServerSocket.h"
#include "framework/StaticText.h"
#include "framework/Testing.h"
#include "reliability/Harness.h"
#include "support/TestEnvironment.h"
#include "ui/Window1.h"

namespace rel {

class InProcessProgram {
 public:
  // Starts the program once per process; later calls return the same one.
  // withSerial gives it a pseudo-terminal as its serial port.
  static InProcessProgram& Get(bool withSerial) {
    static std::unique_ptr<InProcessProgram> p;
    if (!p) p.reset(new InProcessProgram(withSerial));
    return *p;
  }

  Pty* pty() { return pty_.get(); }
  const std::string& volume() const { return iso_->volume; }
  const std::string& preferences() const { return iso_->preferences; }
  std::string scratch(const std::string& name) const { return (*dir_) / name; }

  // Points the program at a fresh "Calls" folder so that each case counts
  // only its own files.
  std::string FreshCallsFolder(const std::string& name) {
    std::string path = (*dir_) / name;
    fs::create_directories(path);
    App()->pref_path = fw::FolderItem::FromPath(path);
    return path;
  }

  // One tick, raised as the timer raises it (an escaping exception goes to
  // the unhandled-exception routine, as in the running program).
  static void Tick() { App()->regularTimer->Action.Raise(); }

  static fw::Ref<fw::StaticText> Text(const char* control) {
    return fw::RuntimeCheckCast<fw::StaticText>(fw::RuntimeWindowControlByName(Window1(), control));
  }
  static fw::Ref<fw::Listbox> FileList() {
    return fw::RuntimeCheckCast<fw::Listbox>(fw::RuntimeWindowControlByName(Window1(), "fileList"));
  }
  static fw::Ref<fw::ServerSocket> Listener() {
    return fw::RuntimeCheckCast<fw::ServerSocket>(fw::RuntimeWindowControlByName(Window1(), "ipServer"));
  }

  static bool Pump(const std::function<bool()>& cond, int ms) { return fw::testing::RunEventLoopUntil(cond, ms); }

 private:
  explicit InProcessProgram(bool withSerial) {
    dir_ = std::make_unique<tptest::TempDir>();
    iso_ = std::make_unique<tptest::IsolatedVolume>(*dir_);
    setenv("TALLYPOINT_MODAL_LOG", ((*dir_) / "modal.log").c_str(), 1);
    if (withSerial) {
      pty_ = std::make_unique<Pty>();
      setenv("TALLYPOINT_SERIAL_PORTS", pty_->slavePath().c_str(), 1);
      WriteSettingsFile(iso_->preferences, pty_->slavePath());
    }
    auto startup = std::make_shared<fw::Delegate<void()>>([] { startup::_Startup(); }, "startup._Startup");
    fw::_RunFrameworkInitialization(startup);
    App()->Open.Raise();
    if (withSerial) Pump([] { return App()->myPort && App()->myPort->IsOpen(); }, 5000);
    Pump([] { return false; }, 50);
  }

  std::unique_ptr<tptest::TempDir> dir_;
  std::unique_ptr<tptest::IsolatedVolume> iso_;
  std::unique_ptr<Pty> pty_;
};

}  // namespace rel
