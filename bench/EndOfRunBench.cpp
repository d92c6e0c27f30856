// The end of a run with a backlog waiting, and the start after one that was
// killed in the middle of it.
//
// EndOfRunFlush: N records (20,000 by default) are in the real program's
// buffer when SIGTERM comes, and every one must be a call file before the
// process ends. Measured: from the signal to the exit. The floor, measured
// in the same iteration just before and just after (the mean of the two, so
// that a disk busy with other work weighs on both alike; no folder is
// removed until the bench ends, see RemovedAtExit): a plain loop that
// does the same durable order for files of the same size in a fresh folder:
// each written to a temporary (open, write, close), one syncfs, each renamed
// to its name, one sync of the folder. Goal: the flush within 1.5 times its
// floor (median of three runs).
//
// LeftoverRecovery: a copy of the program killed just before the sync of its
// flush leaves every record in a hidden temporary; the next start makes them
// call files before it opens its ports. Measured: from starting that copy to
// its serial port being open, beside the same start once everything is a
// call file (so the difference is the recovery), and beside a plain loop that
// renames as many files. Needs the sync tracer that the tests build.
//
//   bench_end_of_run [--records=20000] [benchmark flags]

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <memory>
#include <vector>
#include <thread>

#include "framework/system/FileDescriptor.h"
#include "support/CallFolder.h"
#include "support/ChildProgram.h"
#include "support/NetNamespace.h"
#include "support/Pty.h"
#include "support/WaitFor.h"

namespace {

using fw::detail::FileDescriptor;

long gRecords = 20000;

std::string Record(long i) {
  char b[64];
  std::snprintf(b, sizeof b, "%06ld 01/02 09:%02ld 0155501%04ld 00:01:%02ld", i, i % 60, i % 10000, i % 60);
  return b;
}

std::string Backlog() {
  std::string all;
  for (long i = 0; i < gRecords; ++i) all += Record(i) + "\r\n";
  return all;
}

// The folders of the runs compared, removed only when the bench ends. For a
// minute or more after many files are deleted, ext4 makes each new file near
// them several times slower (it steps past the recently freed inodes one by
// one): a floor whose files were removed just before the flush would slow
// the flush alone, and the comparison would measure the disk's memory.
class RemovedAtExit {
 public:
  template <class T>
  T& Keep(std::unique_ptr<T> folder) {
    T& kept = *folder;
    kept_.push_back(std::shared_ptr<void>(std::move(folder)));
    return kept;
  }

 private:
  std::vector<std::shared_ptr<void>> kept_;
};

RemovedAtExit& Kept() {
  static RemovedAtExit kept;  // the bench's one process, as its folders are
  return kept;
}

// Seconds for the floor, or a negative number when it could not run. Its
// folder is made beside "Calls", where the file system places their new
// files alike.
double PlainDurableFlush(const std::string& folder) {
  bool ok = tptest::fs::create_directory(folder);
  const auto t0 = tptest::SteadyClock::now();
  FileDescriptor dfd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  for (long i = 0; i < gRecords; ++i) {
    const std::string temp = ".tmp-" + std::to_string(i), b = Record(i);
    FileDescriptor fd(openat(dfd.Get(), temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (!fd || write(fd.Get(), b.data(), b.size()) != static_cast<ssize_t>(b.size()) || !fd.Close()) ok = false;
  }
  if (syncfs(dfd.Get()) != 0) ok = false;
  for (long i = 0; i < gRecords; ++i) {
    const std::string temp = ".tmp-" + std::to_string(i), name = "2026120823000" + std::to_string(i) + ".txt";
    if (renameat2(dfd.Get(), temp.c_str(), dfd.Get(), name.c_str(), RENAME_NOREPLACE) != 0) ok = false;
  }
  if (fsync(dfd.Get()) != 0) ok = false;
  const double seconds = tptest::SecondsSince(t0);
  return ok ? seconds : -1;
}

void BM_EndOfRunFlush(benchmark::State& state) {
  for (auto _ : state) {
    tptest::ProgramOnPty& run = Kept().Keep(std::make_unique<tptest::ProgramOnPty>(TALLYPOINT_BINARY));
    if (!run.Start()) return state.SkipWithError(("the program did not start: " + run.Log()).c_str());
    tptest::ChildProgram& prog = *run.prog;
    run.pty.Write(Backlog());
    tptest::WaitFor([&] { return run.pty.Unread() == 0; }, tptest::milliseconds(60000));
    std::this_thread::sleep_for(tptest::milliseconds(1000));  // a tick or two: the buffer holds it all
    const size_t before = tptest::ReadCallFolder(prog.callsDir(), false).files.size();

    const double floorBefore = PlainDurableFlush(run.o.volume + "/floor-before");
    const auto t0 = tptest::SteadyClock::now();
    prog.process.Signal(SIGTERM);
    tptest::WaitFor([&] { return !prog.Alive(); }, tptest::milliseconds(300000), tptest::milliseconds(2));
    const double seconds = tptest::SecondsSince(t0);
    const size_t after = tptest::ReadCallFolder(prog.callsDir(), false).files.size();
    prog.Stop(SIGKILL, tptest::milliseconds(3000));
    const double floorAfter = PlainDurableFlush(run.o.volume + "/floor-after");
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

size_t CountHidden(const std::string& calls) {
  size_t n = 0;
  for (auto& name : tptest::ReadCallFolder(calls, false).strays) n += name.rfind(".tp-", 0) == 0;
  return n;
}

// Seconds to rename n files in a fresh folder, one after another.
double PlainRenames(size_t n) {
  tptest::TempDir dir;
  FileDescriptor dfd(open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  for (size_t i = 0; i < n; ++i) {
    const std::string b = Record(static_cast<long>(i));
    FileDescriptor fd(openat(dfd.Get(), (".left-" + std::to_string(i)).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    if (!fd || write(fd.Get(), b.data(), b.size()) != static_cast<ssize_t>(b.size())) return -1;
  }
  syncfs(dfd.Get());
  const auto t0 = tptest::SteadyClock::now();
  for (size_t i = 0; i < n; ++i) {
    const std::string from = ".left-" + std::to_string(i), to = "2026120823000" + std::to_string(i) + ".txt";
    if (renameat(dfd.Get(), from.c_str(), dfd.Get(), to.c_str()) != 0) return -1;
  }
  return tptest::SecondsSince(t0);
}

void BM_LeftoverRecovery(benchmark::State& state) {
#ifndef TALLYPOINT_SYNC_TRACE
  state.SkipWithError("needs the sync tracer, built with the tests");
  for (auto _ : state) {
  }
#else
  for (auto _ : state) {
    tptest::TempDir dir;
    const std::string volume = dir / "volume";
    const std::string calls = volume + "/Calls";
    {
      tptest::ProgramOnPty killed(TALLYPOINT_BINARY);
      killed.o.volume = volume;
      tptest::fs::create_directories(volume);
      killed.o.env["LD_PRELOAD"] = TALLYPOINT_SYNC_TRACE;
      killed.o.env["TALLYPOINT_END_AT"] = "kill syncfs 1";
      if (!killed.Start()) return state.SkipWithError(("the program did not start: " + killed.Log()).c_str());
      killed.pty.Write(Backlog());
      tptest::WaitFor([&] { return killed.pty.Unread() == 0; }, tptest::milliseconds(60000));
      std::this_thread::sleep_for(tptest::milliseconds(1000));
      killed.prog->process.Signal(SIGTERM);
      auto status = killed.prog->process.WaitExit(tptest::milliseconds(300000));
      if (!status || !WIFSIGNALED(*status)) return state.SkipWithError("the flush was not cut short");
    }
    const size_t leftovers = CountHidden(calls) - 1;  // and the lock file
    const size_t named = tptest::CountCalls(calls);

    auto startSeconds = [&](size_t& files) {
      tptest::ProgramOnPty next(TALLYPOINT_BINARY);
      next.o.volume = volume;
      const auto t0 = tptest::SteadyClock::now();
      const bool started = next.Start();
      const double seconds = tptest::SecondsSince(t0);
      files = tptest::CountCalls(calls);
      next.prog->Stop(SIGTERM, tptest::milliseconds(10000));
      return started ? seconds : -1;
    };
    size_t files = 0, filesAgain = 0;
    const double seconds = startSeconds(files);
    const double clean = startSeconds(filesAgain);
    const double renames = PlainRenames(leftovers);
    state.SetIterationTime(seconds);
    state.counters["leftovers"] = static_cast<double>(leftovers);
    state.counters["files"] = static_cast<double>(files);
    state.counters["start_s"] = seconds;
    state.counters["start_clean_s"] = clean;
    state.counters["recovery_s"] = seconds - clean;
    state.counters["renames_s"] = renames;
    state.counters["ratio"] = renames > 0 ? (seconds - clean) / renames : 0;
    if (seconds < 0 || clean < 0) state.SkipWithError("the program did not start");
    if (files != named + leftovers || CountHidden(calls) != 0)
      state.SkipWithError("not every leftover became a call file");
  }
#endif
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg.substr(0, 10) == "--records=") gRecords = std::atol(arg.data() + 10);
  }
  tptest::EnterPrivateNetwork();
  for (auto [name, scenario] : {std::pair{"EndOfRunFlush", &BM_EndOfRunFlush},
                                std::pair{"LeftoverRecovery", &BM_LeftoverRecovery}})
    benchmark::RegisterBenchmark(name, scenario)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
