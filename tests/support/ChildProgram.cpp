#include "support/ChildProgram.h"

#include "support/CallFolder.h"
#include "support/NetNamespace.h"
#include "support/ProcFigures.h"

namespace tptest {

ProgramOptions SerialProgramIn(const std::string& root, const std::string& ptySlave) {
  ProgramOptions o;
  o.volume = root + "/volume";
  o.preferences = root + "/prefs";
  o.serialPorts = ptySlave;
  o.stdoutPath = o.stderrPath = root + "/program.log";
  fs::create_directories(o.volume);
  WriteSettingsFile(o.preferences, ptySlave);
  return o;
}

ChildProgram::ChildProgram()
    : volume(root / "volume"),
      preferences(root / "preferences"),
      calls(volume + "/Calls"),
      modalLogPath(root / "modal.log"),
      stderrPath(root / "stderr.txt"),
      stdoutPath(root / "stdout.txt") {
  fs::create_directories(volume);
  fs::create_directories(preferences);
}

void ChildProgram::Start(const ProgramOptions& o) {
  auto take = [](std::string& mine, const std::string& given) {
    if (!given.empty()) mine = given;
  };
  take(volume, o.volume);
  take(preferences, o.preferences);
  take(modalLogPath, o.modalLogPath);
  take(stdoutPath, o.stdoutPath);
  take(stderrPath, o.stderrPath);
  calls = volume + "/Calls";
  serialPort_ = o.serialPorts.value_or("");
  if (o.prefs) WriteFile(PrefsPath(), PrefsText(*o.prefs));
  if (o.createCalls) fs::create_directories(calls);

  SpawnOptions s;
  s.argv = o.launcher;
  s.argv.push_back(o.binary.empty() ? std::string(TALLYPOINT_BINARY) : o.binary);
  s.env = o.env;
  s.env["TALLYPOINT_STARTUP_VOLUME"] = volume;
  s.env["XDG_CONFIG_HOME"] = preferences;
  s.env["QT_QPA_PLATFORM"] = o.platform;
  s.unset = {"TALLYPOINT_MODAL_LOG", "TALLYPOINT_SERIAL_PORTS"};
  if (o.modalLog) {
    WriteFile(modalLogPath, "");
    s.env["TALLYPOINT_MODAL_LOG"] = modalLogPath;
  }
  if (o.serialPorts) s.env["TALLYPOINT_SERIAL_PORTS"] = *o.serialPorts;
  s.stdoutPath = stdoutPath;
  s.stderrPath = stderrPath;
  s.uid = o.uid;
  s.gid = o.gid;
  process.Start(s);
}

bool ChildProgram::WaitStarted(milliseconds limit, bool serial, bool tcp) {
  // Until the child has run exec it holds our own descriptors, the serial
  // line's among them, and would pass for a program that opened it.
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  auto execed = [&] {
    std::error_code e;
    return fs::read_symlink("/proc/" + std::to_string(pid()) + "/exe", e) != self;
  };
  return WaitFor([&] {
    if (!Alive()) return true;
    if (!execed()) return false;
    if (!fs::exists(calls)) return false;
    if (serial && !HoldsOpen(pid(), serialPort_)) return false;
    if (tcp && !TcpListening(23)) return false;
    return true;
  }, limit) && Alive();
}

bool ChildProgram::WaitForCalls(size_t n, milliseconds timeout) {
  return WaitFor([&] { return CountCalls(calls) >= n; }, timeout);
}

std::string ChildProgram::Log() const {
  return ReadFile(stdoutPath) + (stderrPath == stdoutPath ? "" : ReadFile(stderrPath));
}

std::string ChildProgram::Diagnostics() const {
  return "\n--- program stderr ---\n" + Stderr() + "\n--- modal log ---\n" + ReadFile(modalLogPath);
}

bool ProgramOnPty::Start(bool tcp) {
  prog = std::make_unique<ChildProgram>(o);
  return prog->WaitStarted(15s, true, tcp);
}

std::vector<std::string> ProgramOnPty::Contents() const { return tptest::Contents(ReadCalls(calls())); }

bool ProgramOnPty::WaitFiles(size_t n, milliseconds limit) const {
  return WaitFor([&] { return CountCalls(calls()) >= n; }, limit, 50ms);
}

}  // namespace tptest
