// The list rebuild and the whole tick as the folder of call files grows.
//
//   ListRebuild/N  Window1.updateFileList with the real Listbox, warm, right
//                  after one new call file was added, N files in "Calls".
//   PlainRead/N    the same files read plainly in the same run: open, read
//                  the first line, close, for each.
//   PlainStat/N    one stat per file: the floor for anything that checks
//                  each file.
//   Tick/N         one tick of the processing timer with one record in the
//                  buffer: the call file written and the list rebuilt.
//   Memory/N       resident memory of this process with N rows listed, and
//                  its floor: the resident memory of the program started on
//                  an empty "Calls" (measured before any file was listed)
//                  plus the growth of resident memory when a
//                  std::vector<std::string> of every row's text is built in
//                  this process right after (free heap returned first, so the
//                  growth is the vector's own).
//
// Then start-up at the largest size: a fresh process (this executable again)
// raises the program's Open event, which builds the list, against a plain
// reading of the same files in this run; warm, and, as root, cold after the
// page cache is dropped.
//
// The program is started in this process the way main() starts it. The
// folder grows from one size to the next; files beyond the size being
// measured wait in a store folder next to "Calls" and are moved in by rename.
//
//   bench_list [--sizes=1000,10000,100000] [--folder=DIR] [--no_cold] [benchmark flags]
//
// With --folder the files are kept in DIR (DIR/volume/Calls and DIR/store)
// for the next run; making 1,000,000 of them takes minutes.

#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>

#include <cstring>
#include <iostream>
#include <map>
#include <sstream>

#include "capture/App.h"
#include "capture/Startup.h"
#include "capture/secondTimer.h"
#include "framework/Listbox.h"
#include "framework/Strings.h"
#include "framework/Testing.h"
#include "framework/TextOutputStream.h"
#include "support/InProcessProgram.h"
#include "support/NetNamespace.h"
#include "support/ProcFigures.h"
#include "support/TestEnvironment.h"
#include "support/WaitFor.h"
#include "ui/Window1.h"

namespace {

std::string gCalls, gStore;
size_t gFiles = 0;  // call files in "Calls": always the bench's files 0 .. gFiles-1
long gBaselineKb = 0;  // resident memory of the program started on an empty "Calls"
std::map<long, std::pair<long, long>> gMemory;  // size: resident kB, floor kB

std::string Record(size_t i) {
  char b[128];
  std::snprintf(b, sizeof b, "%05zu 01/02 09:%02zu %04zu %03zu 0%09zu 00:%02zu:%02zu ..... 0.%02zu", i % 100000,
                i % 60, 2000 + i % 7000, 100 + i % 900, i * 7919 % 1000000000, i % 60, i * 7 % 60, i % 100);
  return b;
}

std::string Name(size_t i) {
  char name[64];
  std::snprintf(name, sizeof name, "/2023%02zu%02zu%02zu%02zu%02zu%zu.txt", 1 + i / 2678400 % 12, 1 + i / 86400 % 28,
                i / 3600 % 24, i / 60 % 60, i % 60, i / 1000000);
  return name;
}

size_t CountFiles(const std::string& dir) {
  size_t n = 0;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') ++n;
    closedir(d);
  }
  return n;
}

// Brings "Calls" to exactly n call files, named and filled like the
// program's: files move between the store and "Calls" by rename and are made
// only when missing. The program's event loop then sees the change, as it
// would before its next tick.
void SetFiles(size_t n, bool settle = true) {
  if (gFiles == n) return;
  for (; gFiles < n; ++gFiles) {
    const std::string name = Name(gFiles);
    if (rename((gStore + name).c_str(), (gCalls + name).c_str()) != 0) tptest::WriteFile(gCalls + name, Record(gFiles));
  }
  for (; gFiles > n; --gFiles) {
    const std::string name = Name(gFiles - 1);
    rename((gCalls + name).c_str(), (gStore + name).c_str());
  }
  if (settle) fw::testing::RunEventLoopFor(200);
}
void EnsureFiles(size_t n) { SetFiles(n); }

// A new call file, made as the program makes one.
fw::Ref<fw::FolderItem> AddCallFile(size_t serial) {
  fw::Ref<fw::FolderItem> f = App()->pref_path->Child("2099010100000" + std::to_string(serial) + ".txt");
  fw::Ref<fw::TextOutputStream> out = f->CreateTextFile();
  out->Write(Record(serial));
  out->Close();
  return f;
}

double Ms(tptest::SteadyClock::time_point a, tptest::SteadyClock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

void BM_ListRebuild(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  EnsureFiles(n);
  Window1()->updateFileList();  // warm: page cache and the framework's listing
  size_t serial = 0;
  for (auto _ : state) {
    fw::Ref<fw::FolderItem> added = AddCallFile(serial++);
    auto t0 = tptest::SteadyClock::now();
    Window1()->updateFileList();
    auto t1 = tptest::SteadyClock::now();
    state.SetIterationTime(Ms(t0, t1) / 1000.0);
    const fw::Int32 rows = tptest::Program::FileList()->ListCount();
    added->Delete();
    if (rows != static_cast<fw::Int32>(n + 1)) {
      state.SkipWithError(("the list shows " + std::to_string(rows) + " rows for " + std::to_string(n + 1) +
                           " call files").c_str());
      break;
    }
  }
  state.counters["files"] = static_cast<double>(n);
  state.counters["rss_MiB"] = static_cast<double>(tptest::StatusKb(getpid(), "VmRSS")) / 1024.0;
}

// The floor for any listing that looks at each file once: one stat per file.
void BM_PlainStat(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  EnsureFiles(n);
  size_t files = 0;
  for (auto _ : state) {
    auto t0 = tptest::SteadyClock::now();
    DIR* d = opendir(gCalls.c_str());
    files = 0;
    struct stat st {};
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] == '.') continue;
      if (fstatat(dirfd(d), e->d_name, &st, 0) == 0) ++files;
    }
    closedir(d);
    state.SetIterationTime(Ms(t0, tptest::SteadyClock::now()) / 1000.0);
  }
  if (files != n) state.SkipWithError("the folder does not hold the expected files");
  state.counters["files"] = static_cast<double>(n);
}

void BM_Tick(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  EnsureFiles(n);
  Window1()->updateFileList();
  const int unhandled = fw::UnhandledExceptionCount();
  size_t serial = 0;
  for (auto _ : state) {
    App()->input.Append(Record(serial++) + "\r");
    auto t0 = tptest::SteadyClock::now();
    App()->regularTimer->Action.Raise();
    auto t1 = tptest::SteadyClock::now();
    state.SetIterationTime(Ms(t0, t1) / 1000.0);
    const fw::Int32 rows = tptest::Program::FileList()->ListCount();
    secondTimer& t = *App()->regularTimer;
    fw::Ref<fw::FolderItem> written = App()->pref_path->Child(t.lastFileName + fw::Str(t.suffix) + ".txt");
    const bool wrote = written->Exists();
    written->Delete();
    if (!App()->buffer().empty() || fw::UnhandledExceptionCount() != unhandled || !wrote ||
        rows != static_cast<fw::Int32>(n + 1)) {
      state.SkipWithError(("the tick did not write its record (list shows " + std::to_string(rows) + " rows for " +
                           std::to_string(n + 1) + " call files)").c_str());
      break;
    }
  }
  state.counters["files"] = static_cast<double>(n);
}

// Resident memory with n rows listed, and its floor (see the top of the file).
void BM_Memory(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  EnsureFiles(n);
  Window1()->updateFileList();
  fw::testing::RunEventLoopFor(50);  // the list's view takes the rows
  long rss = 0, growth = 0;
  size_t bytes = 0;
  for (auto _ : state) {
    rss = tptest::StatusKb(getpid(), "VmRSS");
    malloc_trim(0);  // freed heap goes back, so the vector's pages are its own
    const long before = tptest::StatusKb(getpid(), "VmRSS");
    {
      fw::Ref<fw::Listbox> list = tptest::Program::FileList();
      std::vector<std::string> rows;
      rows.reserve(static_cast<size_t>(list->ListCount()));
      for (fw::Int32 i = 0; i < list->ListCount(); ++i) rows.push_back(list->List(i));
      for (const std::string& r : rows) bytes += r.size();
      growth = tptest::StatusKb(getpid(), "VmRSS") - before;
      benchmark::DoNotOptimize(rows.data());
    }
    state.SetIterationTime(1e-6);
  }
  gMemory[static_cast<long>(n)] = {rss, gBaselineKb + growth};
  state.counters["files"] = static_cast<double>(n);
  state.counters["rss_MiB"] = static_cast<double>(rss) / 1024.0;
  state.counters["floor_MiB"] = static_cast<double>(gBaselineKb + growth) / 1024.0;
  state.counters["rows_text_MiB"] = static_cast<double>(bytes) / (1024.0 * 1024.0);
}

// Open, read the first line, close, for every file of dir; milliseconds.
double PlainReadMs(const std::string& dir, size_t& lines) {
  auto t0 = tptest::SteadyClock::now();
  DIR* d = opendir(dir.c_str());
  lines = 0;
  char buf[4096];
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    int fd = openat(dirfd(d), e->d_name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    ssize_t got = read(fd, buf, sizeof buf);
    std::string_view first(buf, got > 0 ? static_cast<size_t>(got) : 0);
    first = first.substr(0, first.find_first_of("\r\n"));
    benchmark::DoNotOptimize(first.data());
    close(fd);
    ++lines;
  }
  closedir(d);
  return Ms(t0, tptest::SteadyClock::now());
}

void BM_PlainRead(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  EnsureFiles(n);
  size_t lines = 0;
  for (auto _ : state) state.SetIterationTime(PlainReadMs(gCalls, lines) / 1000.0);
  if (lines != n) state.SkipWithError("the folder does not hold the expected files");
  state.counters["files"] = static_cast<double>(n);
}

bool DropCaches() {
  sync();
  FILE* f = std::fopen("/proc/sys/vm/drop_caches", "w");
  if (!f) return false;
  const bool ok = std::fputs("3\n", f) >= 0;
  return std::fclose(f) == 0 && ok;
}

// The start-up of a fresh program process on the folder as it stands:
// milliseconds from the Open event to its end (the list built), and rows.
bool StartupInChild(const std::string& self, const std::string& folder, double& ms, long& rows) {
  const std::string cmd = "'" + self + "' --startup_child --folder='" + folder + "' 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return false;
  char line[256];
  bool got = false;
  while (std::fgets(line, sizeof line, p))
    if (std::sscanf(line, "startup_ms %lf rows %ld", &ms, &rows) == 2) got = true;
  return pclose(p) == 0 && got;
}

// Collects the mean times so that the ratio to a plain reading can be shown.
class Reporter : public benchmark::ConsoleReporter {
 public:
  Reporter() : ConsoleReporter(OO_Tabular) {}
  std::map<std::string, double> ms;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (!r.error_occurred) ms[r.benchmark_name()] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
};

// Starts the program in this process, with the folders the bench fills; it
// runs until the process ends. The caller raises Open.
void StartProgram(const std::string& root, int argc, char** argv) {
  tptest::fs::create_directories(root + "/volume/Calls");
  tptest::fs::create_directories(root + "/store");
  static tptest::Program program(tptest::Program::Lifetime::WholeProcess, root);
  program.AnswerDialogsThroughLog();
  tptest::StartRuntime(argc, argv);
  program.StartUp();
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::vector<long> sizes = {1000, 10000, 100000};
  std::string folder;
  bool child = false, noCold = false;  // --no_cold: the cold start takes minutes
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--sizes=", 8) == 0) {
      sizes.clear();
      std::stringstream list(argv[i] + 8);
      for (std::string item; std::getline(list, item, ',');)
        if (!item.empty()) sizes.push_back(std::atol(item.c_str()));
      std::sort(sizes.begin(), sizes.end());
    }
    if (std::strncmp(argv[i], "--folder=", 9) == 0) folder = argv[i] + 9;
    if (std::strcmp(argv[i], "--startup_child") == 0) child = true;
    if (std::strcmp(argv[i], "--no_cold") == 0) noCold = true;
  }
  // Port 23 of the window's listener stays inside a namespace of our own.
  tptest::EnterPrivateNetwork(child);

  if (child) {
    // A fresh process: nothing of the folder is known to the program yet.
    StartProgram(folder, argc, argv);
    auto t0 = tptest::SteadyClock::now();
    App()->Open.Raise();
    const double ms = Ms(t0, tptest::SteadyClock::now());
    std::printf("startup_ms %.3f rows %d\n", ms, tptest::Program::FileList()->ListCount());
    return 0;
  }

  const bool keep = !folder.empty();
  if (!keep) {
    char tmpl[] = "/tmp/tallypoint-bench-XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    folder = tmpl;
  }
  folder = tptest::fs::absolute(folder).string();
  StartProgram(folder, argc, argv);
  gCalls = folder + "/volume/Calls";
  gStore = folder + "/store";
  // What an earlier run left: its files 0 .. k-1 in "Calls", and perhaps one
  // call file of an interrupted iteration, named by the year 2099.
  if (DIR* d = opendir(gCalls.c_str())) {
    while (dirent* e = readdir(d))
      if (std::strncmp(e->d_name, "2099", 4) == 0) unlinkat(dirfd(d), e->d_name, 0);
    closedir(d);
  }
  gFiles = CountFiles(gCalls);
  SetFiles(0, false);  // the baseline is the program on an empty "Calls"
  App()->Open.Raise();
  fw::testing::RunEventLoopFor(200);
  malloc_trim(0);
  gBaselineKb = tptest::StatusKb(getpid(), "VmRSS");
  if (App()->pref_path->NativePath() != gCalls) {
    std::cerr << "the program lists " << App()->pref_path->NativePath() << ", not " << gCalls << "\n";
    return 1;
  }

  for (long n : sizes) {
    benchmark::RegisterBenchmark("ListRebuild", BM_ListRebuild)->Arg(n)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);
    benchmark::RegisterBenchmark("PlainRead", BM_PlainRead)->Arg(n)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);
    benchmark::RegisterBenchmark("PlainStat", BM_PlainStat)->Arg(n)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);
    benchmark::RegisterBenchmark("Tick", BM_Tick)->Arg(n)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);
    benchmark::RegisterBenchmark("Memory", BM_Memory)->Arg(n)->UseManualTime()->Iterations(1);
  }
  Reporter reporter;  // plain text: the figures go into the README
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::printf("\n%8s %10s %10s %10s %9s %9s %9s %9s %8s %9s %9s %6s\n", "files", "tick ms", "rebuild ms",
              "plain ms", "stat ms", "rb/plain", "rb/stat", "rb us/f", "tick/plain", "RSS MiB", "floor MiB", "ratio");
  double perFileSmall = -1;
  long sizeSmall = 0;
  for (long n : sizes) {
    auto get = [&](const std::string& name) {
      const std::string prefix = name + "/" + std::to_string(n) + "/";
      for (auto& [k, v] : reporter.ms)
        if (k.compare(0, prefix.size(), prefix) == 0) return v;
      return -1.0;
    };
    double rebuild = get("ListRebuild"), plain = get("PlainRead"), stat = get("PlainStat"), tick = get("Tick");
    if (rebuild < 0 && plain < 0 && tick < 0) continue;
    const double dn = static_cast<double>(n);
    const auto mem = gMemory.count(n) ? gMemory[n] : std::pair<long, long>{0, 0};
    std::printf("%8ld %10.3f %10.3f %10.3f %9.3f %9.3f %9.3f %9.3f %8.3f %9.1f %9.1f %6.2f\n", n, tick, rebuild,
                plain, stat, plain > 0 ? rebuild / plain : 0.0, stat > 0 ? rebuild / stat : 0.0,
                rebuild * 1000.0 / dn, plain > 0 ? tick / plain : 0.0, mem.first / 1024.0, mem.second / 1024.0,
                mem.second > 0 ? static_cast<double>(mem.first) / static_cast<double>(mem.second) : 0.0);
    if (tick > 0) {
      if (perFileSmall > 0)
        std::printf("%8s tick per file %.3f us, %.2f times that at %ld files\n", "", tick * 1000.0 / dn,
                    tick / dn / perFileSmall, sizeSmall);
      perFileSmall = tick / dn;
      sizeSmall = n;
    }
  }
  std::printf("(floor: the program's resident memory on an empty \"Calls\", %.1f MiB, plus a vector of every row's text)\n",
              gBaselineKb / 1024.0);

  // Start-up at the largest size, in a fresh process, against a plain
  // reading of the same files.
  const long largest = sizes.empty() ? 0 : sizes.back();
  SetFiles(static_cast<size_t>(largest));
  char self[4096];
  const ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
  self[len > 0 ? len : 0] = '\0';
  for (bool cold : {false, true}) {
    if (cold && noCold) break;
    if (cold && (geteuid() != 0 || !DropCaches())) {
      std::printf("start-up, cold: not measured (dropping the page cache needs root)\n");
      break;
    }
    size_t lines = 0;
    double plain = PlainReadMs(gCalls, lines);
    if (cold) DropCaches();
    else plain = PlainReadMs(gCalls, lines);  // warm: the second reading
    double ms = -1;
    long rows = -1;
    const bool ok = StartupInChild(self, folder, ms, rows);
    std::printf("start-up to the built list at %ld files, %s: %s%.1f ms (rows %ld), plain reading %.1f ms, ratio %.2f\n",
                largest, cold ? "cold" : "warm", ok ? "" : "FAILED ", ms, rows, plain, plain > 0 ? ms / plain : 0.0);
  }

  if (!keep) {
    std::error_code ec;
    tptest::fs::remove_all(folder, ec);
  }
  benchmark::Shutdown();
  return 0;
}
