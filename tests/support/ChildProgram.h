#pragma once
// build/tallypoint (or the binary named) run as a child process, headless,
// in a folder tree of its own unless told otherwise:
//   <root>/volume        the startup volume ("Calls" lives here)
//   <root>/preferences   the Preferences folder (lineKeeper.prefs)
//   <root>/modal.log     the dialogs it would have shown
//   <root>/stdout.txt, <root>/stderr.txt
#include <sys/types.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/NotCopied.h"
#include "support/Pty.h"
#include "support/SettingsFile.h"
#include "support/TestEnvironment.h"

namespace tptest {

// What a run is given; a path left empty is the one in the program's folder.
struct ProgramOptions {
  std::string binary;                      // empty: the test build of the program
  std::vector<std::string> launcher;       // runs the program, given as its last arguments
  std::string volume;                      // TALLYPOINT_STARTUP_VOLUME
  std::string preferences;                 // XDG_CONFIG_HOME
  std::optional<LineSettings> prefs;       // written as lineKeeper.prefs before start
  bool createCalls = false;                // make "Calls" before start
  std::optional<std::string> serialPorts;  // TALLYPOINT_SERIAL_PORTS; unset when absent
  bool modalLog = true;                    // answer dialogs through the log
  std::string modalLogPath;                // TALLYPOINT_MODAL_LOG
  std::string stdoutPath, stderrPath;      // the same path: one log of both
  std::string platform = "offscreen";
  std::map<std::string, std::string> env;
  std::optional<uid_t> uid;
  std::optional<gid_t> gid;
};

// Options for a program in root reading the serial line ptySlave, named in
// the settings file written there now; both outputs go to root/program.log.
ProgramOptions SerialProgramIn(const std::string& root, const std::string& ptySlave);
inline ProgramOptions SerialProgramIn(const TempDir& dir, const std::string& ptySlave) {
  return SerialProgramIn(dir.path(), ptySlave);
}

class ChildProgram : NotCopied {
 public:
  using Options = ProgramOptions;
  // Its folder is made; it starts with Start.
  ChildProgram();
  explicit ChildProgram(const ProgramOptions& o) : ChildProgram() { Start(o); }

  void Start(const ProgramOptions& o);

  pid_t pid() const { return process.pid(); }
  bool Alive() { return process.Running(); }
  // Signals the process and waits for it; SIGKILL after the limit.
  void Stop(int sig, milliseconds limit) { process.Stop(sig, limit); }
  // Start-up is over when "Calls" exists, the serial device (if any) is
  // open and, when wanted, port 23 listens. False when it has ended.
  bool WaitStarted(milliseconds limit, bool serial, bool tcp);
  bool WaitForCalls(size_t n, milliseconds timeout);

  std::string callsDir() const { return calls; }
  std::string PrefsPath() const { return preferences + "/lineKeeper.prefs"; }
  std::vector<std::string> ModalLines() const { return ReadLines(modalLogPath); }
  std::string Stderr() const { return ReadFile(stderrPath); }
  // Standard output, then standard error where that went elsewhere.
  std::string Log() const;
  // For failure messages: what the program said.
  std::string Diagnostics() const;

  TempDir root;
  std::string volume, preferences, calls, modalLogPath, stderrPath, stdoutPath;
  Child process;

 private:
  std::string serialPort_;
};

// The program as a child reading a pseudo-terminal as its serial line, in a
// folder of its own; o may be changed until Start.
struct ProgramOnPty {
  ProgramOnPty() = default;
  // Runs binary instead of the test build.
  explicit ProgramOnPty(const std::string& binary) { o.binary = binary; }

  TempDir dir;
  Pty pty;
  ProgramOptions o = SerialProgramIn(dir, pty.slavePath());
  std::unique_ptr<ChildProgram> prog;

  // Starts it and waits until start-up is over; with tcp, until port 23 listens too.
  bool Start(bool tcp = false);
  std::string calls() const { return o.volume + "/Calls"; }
  // The call files' contents in the order they were written.
  std::vector<std::string> Contents() const;
  bool WaitFiles(size_t n, milliseconds limit) const;
  std::string Log() const { return prog ? prog->Log() : ""; }
};

}  // namespace tptest
