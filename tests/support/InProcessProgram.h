#pragma once
// The program started inside the test's (or benchmark's) own process as its
// start-up does, in a private folder, with the outside ends of its inputs:
// a listed pseudo-terminal and a listener of its own. The event loop runs only
// while the caller pumps it, and ticks can be raised directly instead of
// waiting 500 ms for each.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/App.h"
#include "framework/Listbox.h"
#include "framework/ServerSocket.h"
#include "framework/StaticText.h"
#include "framework/Window.h"
#include "support/CallFolder.h"
#include "support/NotCopied.h"
#include "support/Pty.h"
#include "support/TestEnvironment.h"
#include "support/WaitFor.h"

namespace tptest {

// The runtime headless, with the framework's classes and then the program's
// registered, as main() does before the start-up routine.
void StartRuntime(int argc, char** argv);

// The control called name in window, as a T.
template <class T>
fw::Ref<T> ControlOf(fw::Ref<fw::Window> window, const char* name) {
  return fw::RuntimeCheckCast<T>(fw::RuntimeWindowControlByName(window, name));
}

// Ends the program's windows so that the next test builds its own.
void CloseUiWindows();

// A pseudo-terminal that is the one serial port listed (TALLYPOINT_SERIAL_PORTS)
// for the object's lifetime.
class ListedPty : public Pty {
 public:
  ListedPty() : listed_("TALLYPOINT_SERIAL_PORTS", slavePath()) {}

 private:
  ScopedEnv listed_;
};

class Program : NotCopied {
 public:
  enum class Lifetime {
    OneTest,       // torn down with the object: timer stopped, port closed, windows closed
    WholeProcess,  // left running until the process ends
  };
  // In root/volume and root/preferences; root empty: a temporary folder of its own.
  explicit Program(Lifetime lifetime = Lifetime::OneTest, const std::string& root = "");
  ~Program();

  // One program for all the tests of an executable, started at the first
  // call; withSerial gives it a listed pseudo-terminal as its serial port.
  static Program& Shared(bool withSerial);

  // Dialogs are answered and logged to root/modal.log instead of shown.
  void AnswerDialogsThroughLog();
  // Writes "lineKeeper.prefs" before the start.
  void WritePrefs(const std::string& content);
  // Runs the start-up routine and then the application's Open event.
  void Start();
  // The start-up routine alone; the caller raises Open.
  void StartUp();

  fw::Ref<class App> app() const;
  std::string callsDir() const { return iso.volume + "/Calls"; }
  std::string prefsFile() const { return iso.preferences + "/lineKeeper.prefs"; }
  const std::string& preferences() const { return iso.preferences; }
  std::string scratch(const std::string& name) const { return root_ + "/" + name; }
  // Points the program at a fresh "Calls" folder so that each case counts
  // only its own files.
  std::string FreshCallsFolder(const std::string& name);
  Pty* pty() { return pty_.get(); }

  // Call files in the order they were written.
  std::vector<CallFile> CallFiles() const;
  std::vector<std::string> CallContents() const;
  std::string Status() const;      // text of portStatus
  std::string BufferLine() const;  // text of bufferview

  // One tick, raised as the timer raises it (an escaping exception goes to
  // the unhandled-exception routine, as in the running program).
  static void Tick();
  static fw::Ref<fw::StaticText> Text(const char* control);
  static fw::Ref<fw::Listbox> FileList();
  static fw::Ref<fw::ServerSocket> Listener();

  TempDir dir;
  IsolatedVolume iso;

 private:
  Lifetime lifetime_;
  std::string root_;
  std::optional<ScopedEnv> modalLog_;
  std::unique_ptr<ListedPty> pty_;
  bool started_ = false;
};

// A listener on a free loopback port whose connections are IPSockets, as the
// main window's listener makes them.
class IPSocketServer {
 public:
  IPSocketServer();
  ~IPSocketServer();
  int port() const;
  fw::Ref<fw::ServerSocket> server;
};

}  // namespace tptest
