// The end of a run with a backlog waiting: N records (20,000 by default) are
// in the real program's buffer when SIGTERM comes, and every one must be a
// call file before the process ends. Measured: from the signal to the exit.
//
// The floor, measured in the same iteration just before and just after (the
// mean of the two, so that a disk busy with other work weighs on both alike):
// a plain loop that creates the same number of files of the same size in a
// fresh folder (open, write, close), then one syncfs; the least a durable
// flush of that many files needs. Goal: the flush within 1.5 times its floor (median of three
// runs), which it can meet only with one sync for all files, not one each.
//
//   bench_end_of_run [--records=20000] [benchmark flags]

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <thread>

#include "RunOnce.h"
#include "support/CallFolder.h"
#include "support/ChildProgram.h"
#include "support/Pty.h"
#include "support/WaitFor.h"

namespace {

long gRecords = 20000;

// Seconds for the floor, or a negative number when it could not run.
double PlainCreateAndSync() {
  tptest::TempDir dir;
  bool ok = true;
  const auto t0 = tptest::SteadyClock::now();
  int dfd = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (long i = 0; i < gRecords; ++i) {
    char name[48], b[64];
    std::snprintf(name, sizeof name, "2026120823000%ld.txt", i);
    int n = std::snprintf(b, sizeof b, "%06ld 01/02 09:%02ld 0155501%04ld 00:01:%02ld", i, i % 60, i % 10000, i % 60);
    int fd = openat(dfd, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 || write(fd, b, static_cast<size_t>(n)) != n) ok = false;
    if (fd >= 0) close(fd);
  }
  syncfs(dfd);
  fsync(dfd);
  close(dfd);
  const double seconds = tptest::SecondsSince(t0);
  return ok ? seconds : -1;
}

void BM_EndOfRunFlush(benchmark::State& state) {
  for (auto _ : state) {
    tptest::ProgramOnPty run(TALLYPOINT_BINARY);
    if (!run.Start()) return state.SkipWithError(("the program did not start: " + run.Log()).c_str());
    tptest::ChildProgram& prog = *run.prog;
    std::string all;
    for (long i = 0; i < gRecords; ++i) {
      char b[64];
      std::snprintf(b, sizeof b, "%06ld 01/02 09:%02ld 0155501%04ld 00:01:%02ld\r\n", i, i % 60, i % 10000, i % 60);
      all += b;
    }
    run.pty.Write(all);
    tptest::WaitFor([&] { return run.pty.Unread() == 0; }, tptest::milliseconds(60000));
    std::this_thread::sleep_for(tptest::milliseconds(1000));  // a tick or two: the buffer holds it all
    const size_t before = tptest::ReadCallFolder(prog.callsDir(), false).files.size();

    const double floorBefore = PlainCreateAndSync();
    const auto t0 = tptest::SteadyClock::now();
    prog.process.Signal(SIGTERM);
    tptest::WaitFor([&] { return !prog.Alive(); }, tptest::milliseconds(300000), tptest::milliseconds(2));
    const double seconds = tptest::SecondsSince(t0);
    const size_t after = tptest::ReadCallFolder(prog.callsDir(), false).files.size();
    prog.Stop(SIGKILL, tptest::milliseconds(3000));
    const double floorAfter = PlainCreateAndSync();
    const double floor = floorBefore < 0 || floorAfter < 0 ? -1 : (floorBefore + floorAfter) / 2;
    state.SetIterationTime(seconds);
    state.counters["records"] = static_cast<double>(gRecords);
    state.counters["flushed"] = static_cast<double>(after - before);
    state.counters["files"] = static_cast<double>(after);
    state.counters["flush_s"] = seconds;
    state.counters["floor_s"] = floor;
    state.counters["ratio"] = floor > 0 ? seconds / floor : 0;
    state.counters["goal_ratio"] = 1.5;
    if (after != static_cast<size_t>(gRecords)) state.SkipWithError("not every record became a call file");
    if (floor < 0) state.SkipWithError("the floor could not write its files");
  }
}

}  // namespace

int main(int argc, char** argv) {
  return RunOnce(argc, argv, "EndOfRunFlush", BM_EndOfRunFlush, [](std::string_view arg) {
    if (arg.substr(0, 10) == "--records=") gRecords = std::atol(arg.data() + 10);
  });
}
