// The program at rest: CPU time used over a minute without input (no polling
// allowed), and resident memory at start-up, with an empty "Calls", with
// 100,000 call files listed, and with an empty "Calls" and the serial port
// open (a pseudo-terminal chosen in the settings file), which shows the
// spinning wheel. The three programs run side by side in the same minute.
//
//   bench_idle [--idle_s=60] [--files=100000] [benchmark flags]

#include <benchmark/benchmark.h>

#include <csignal>
#include <cstdlib>
#include <thread>

#include "RunOnce.h"
#include "support/ChildProgram.h"
#include "support/ProcFigures.h"
#include "support/Pty.h"
#include "support/SettingsFile.h"
#include "support/TestEnvironment.h"
#include "support/WaitFor.h"

namespace {

double gIdle = 60;
long gFiles = 100000;

struct Instance {
  std::unique_ptr<tptest::Pty> pty;  // the serial line, when the port is to be open
  std::unique_ptr<tptest::ChildProgram> prog = std::make_unique<tptest::ChildProgram>();
  double startSeconds = 0;  // until its CPU time stops moving
  long rssStarted = 0;
};

bool Launch(Instance& in, long files, bool serial, std::string& error) {
  tptest::ChildProgram& prog = *in.prog;
  tptest::ProgramOptions o;
  o.binary = TALLYPOINT_BINARY;
  o.serialPorts = "";  // none listed unless the port is to be open
  o.stdoutPath = o.stderrPath = prog.root / "program.log";
  tptest::fs::create_directories(prog.calls);
  if (serial) {
    in.pty = std::make_unique<tptest::Pty>();
    o.serialPorts = in.pty->slavePath();
    o.prefs = tptest::LineSettings{in.pty->slavePath(), 10};
  }
  for (long i = 0; i < files; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "/Calls/20230101%02ld%02ld%02ld%ld.txt", i / 3600 % 24, i / 60 % 60, i % 60, i / 86400);
    char rec[96];
    std::snprintf(rec, sizeof rec, "%05ld 01/02 09:%02ld %04ld 0%09ld 00:%02ld:%02ld", i, i % 60, 2000 + i % 7000,
                  i * 7919 % 1000000000, i % 60, i * 7 % 60);
    tptest::WriteFile(prog.volume + name, rec);
  }
  prog.Start(o);
  auto t0 = tptest::SteadyClock::now();
  if (!in.prog->WaitStarted(tptest::milliseconds(60000), serial, false)) {
    error = "did not start: " + in.prog->Log();
    return false;
  }
  // Start-up is over when its CPU time has not moved for two seconds.
  double last = -1;
  auto since = tptest::SteadyClock::now();
  while (tptest::SecondsSince(t0) < 120) {
    double cpu = tptest::CpuSeconds(in.prog->pid());
    if (cpu != last) {
      last = cpu;
      since = tptest::SteadyClock::now();
    } else if (tptest::SecondsSince(since) >= 2.0) {
      break;
    }
    std::this_thread::sleep_for(tptest::milliseconds(100));
  }
  in.startSeconds = std::chrono::duration<double>(since - t0).count();
  in.rssStarted = tptest::StatusKb(in.prog->pid(), "VmRSS");
  return true;
}

void BM_Idle(benchmark::State& state) {
  for (auto _ : state) {
    Instance empty, full, port;
    std::string error;
    if (!Launch(empty, 0, false, error) || !Launch(full, gFiles, false, error) || !Launch(port, 0, true, error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    const double e0 = tptest::CpuSeconds(empty.prog->pid()), f0 = tptest::CpuSeconds(full.prog->pid()),
                 p0 = tptest::CpuSeconds(port.prog->pid());
    const auto t0 = tptest::SteadyClock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<long>(gIdle * 1000)));
    const double seconds = tptest::SecondsSince(t0);
    const double e1 = tptest::CpuSeconds(empty.prog->pid()), f1 = tptest::CpuSeconds(full.prog->pid()),
                 p1 = tptest::CpuSeconds(port.prog->pid());
    const bool alive = empty.prog->Alive() && full.prog->Alive() && port.prog->Alive();
    state.SetIterationTime(seconds);
    state.counters["idle_s"] = seconds;
    state.counters["idle_cpu_s"] = e1 - e0;
    state.counters["idle_cpu_100k_s"] = f1 - f0;
    // Per 60 s, whatever the length of the run: the goal is under 0.1 s.
    state.counters["idle_cpu_port_open_s"] = p1 - p0;
    state.counters["port_open_cpu_per_60s"] = seconds > 0 ? (p1 - p0) * 60.0 / seconds : 0.0;
    state.counters["rss_start_MiB"] = static_cast<double>(empty.rssStarted) / 1024.0;
    state.counters["rss_100k_MiB"] = static_cast<double>(full.rssStarted) / 1024.0;
    state.counters["start_100k_s"] = full.startSeconds;
    state.counters["files"] = static_cast<double>(gFiles);
    for (Instance* in : {&empty, &full, &port}) {
      in->prog->Stop(SIGKILL, tptest::milliseconds(3000));
    }
    if (!alive) state.SkipWithError("a program died while idle");
  }
}

}  // namespace

int main(int argc, char** argv) {
  return RunOnce(argc, argv, "Idle", BM_Idle, [](std::string_view arg) {
    if (arg.substr(0, 9) == "--idle_s=") gIdle = std::atof(arg.data() + 9);
    if (arg.substr(0, 8) == "--files=") gFiles = std::atol(arg.data() + 8);
  });
}
