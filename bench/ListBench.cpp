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
//
// The program is started in this process the way main() starts it, with a
// temporary startup volume; the folder grows from one size to the next.

#include <benchmark/benchmark.h>
#include <dirent.h>

#include <iostream>
#include <map>

#include "capture/App.h"
#include "capture/Startup.h"
#include "capture/secondTimer.h"
#include "framework/Listbox.h"
#include "framework/Strings.h"
#include "framework/Testing.h"
#include "framework/TextOutputStream.h"
#include "reliability/Harness.h"
#include "ui/Window1.h"

namespace {

std::string gCalls;
size_t gFiles = 0;  // call files made by the bench so far

std::string Record(size_t i) {
  char b[128];
  std::snprintf(b, sizeof b, "%05zu 01/02 09:%02zu %04zu %03zu 0%09zu 00:%02zu:%02zu ..... 0.%02zu", i % 100000,
                i % 60, 2000 + i % 7000, 100 + i % 900, i * 7919 % 1000000000, i % 60, i * 7 % 60, i % 100);
  return b;
}

// Tops the folder up to n call files, named and filled like the program's,
// then lets the program's event loop see the change, as it would before its
// next tick.
void EnsureFiles(size_t n) {
  if (gFiles >= n) return;
  for (; gFiles < n; ++gFiles) {
    char name[64];
    std::snprintf(name, sizeof name, "%s/2023%02zu%02zu%02zu%02zu%02zu%zu.txt", gCalls.c_str(), 1 + gFiles / 2678400 % 12,
                  1 + gFiles / 86400 % 28, gFiles / 3600 % 24, gFiles / 60 % 60, gFiles % 60, gFiles / 1000000);
    rel::Spit(name, Record(gFiles));
  }
  fw::testing::RunEventLoopFor(200);
}

fw::Ref<fw::Listbox> FileList() {
  return fw::RuntimeCheckCast<fw::Listbox>(fw::RuntimeWindowControlByName(Window1(), "fileList"));
}

// A new call file, made as the program makes one.
fw::Ref<fw::FolderItem> AddCallFile(size_t serial) {
  fw::Ref<fw::FolderItem> f = App()->pref_path->Child("2099010100000" + std::to_string(serial) + ".txt");
  fw::Ref<fw::TextOutputStream> out = f->CreateTextFile();
  out->Write(Record(serial));
  out->Close();
  return f;
}

double Ms(rel::Clock::time_point a, rel::Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

void BM_ListRebuild(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  EnsureFiles(n);
  Window1()->updateFileList();  // warm: page cache and the framework's listing
  size_t serial = 0;
  for (auto _ : state) {
    fw::Ref<fw::FolderItem> added = AddCallFile(serial++);
    auto t0 = rel::Clock::now();
    Window1()->updateFileList();
    auto t1 = rel::Clock::now();
    state.SetIterationTime(Ms(t0, t1) / 1000.0);
    const fw::Int32 rows = FileList()->ListCount();
    added->Delete();
    if (rows != static_cast<fw::Int32>(n + 1)) {
      state.SkipWithError(("the list shows " + std::to_string(rows) + " rows for " + std::to_string(n + 1) +
                           " call files").c_str());
      break;
    }
  }
  state.counters["files"] = static_cast<double>(n);
  state.counters["rss_MiB"] = static_cast<double>(rel::StatusKb(getpid(), "VmRSS")) / 1024.0;
}

void BM_PlainRead(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  EnsureFiles(n);
  size_t lines = 0;
  for (auto _ : state) {
    auto t0 = rel::Clock::now();
    DIR* d = opendir(gCalls.c_str());
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
    state.SetIterationTime(Ms(t0, rel::Clock::now()) / 1000.0);
  }
  if (lines != n) state.SkipWithError("the folder does not hold the expected files");
  state.counters["files"] = static_cast<double>(n);
}

// The floor for any listing that looks at each file once: one stat per file.
void BM_PlainStat(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  EnsureFiles(n);
  size_t files = 0;
  for (auto _ : state) {
    auto t0 = rel::Clock::now();
    DIR* d = opendir(gCalls.c_str());
    files = 0;
    struct stat st {};
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] == '.') continue;
      if (fstatat(dirfd(d), e->d_name, &st, 0) == 0) ++files;
    }
    closedir(d);
    state.SetIterationTime(Ms(t0, rel::Clock::now()) / 1000.0);
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
    App()->buffer = Record(serial++) + "\r";
    auto t0 = rel::Clock::now();
    App()->regularTimer->Action.Raise();
    auto t1 = rel::Clock::now();
    state.SetIterationTime(Ms(t0, t1) / 1000.0);
    const fw::Int32 rows = FileList()->ListCount();
    secondTimer& t = *App()->regularTimer;
    fw::Ref<fw::FolderItem> written = App()->pref_path->Child(t.lastFileName + fw::Str(t.suffix) + ".txt");
    const bool wrote = written->Exists();
    written->Delete();
    if (!App()->buffer.empty() || fw::UnhandledExceptionCount() != unhandled || !wrote ||
        rows != static_cast<fw::Int32>(n + 1)) {
      state.SkipWithError(("the tick did not write its record (list shows " + std::to_string(rows) + " rows for " +
                           std::to_string(n + 1) + " call files)").c_str());
      break;
    }
  }
  state.counters["files"] = static_cast<double>(n);
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

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  // Port 23 of the window's listener stays inside a namespace of our own.
  rel::Namespaces ns = rel::EnterPrivateNamespaces(true, false);
  if (!ns.net) std::cerr << "note: no private network namespace (" << ns.netWhy << ")\n";

  char tmpl[] = "/tmp/tallypoint-bench-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  const std::string root = tmpl;
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
  App()->Open.Raise();
  gCalls = App()->pref_path->NativePath();

  const std::vector<long> sizes = {1000, 10000, 100000};
  for (long n : sizes) {
    benchmark::RegisterBenchmark("ListRebuild", BM_ListRebuild)->Arg(n)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);
    benchmark::RegisterBenchmark("PlainRead", BM_PlainRead)->Arg(n)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);
    benchmark::RegisterBenchmark("PlainStat", BM_PlainStat)->Arg(n)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);
    benchmark::RegisterBenchmark("Tick", BM_Tick)->Arg(n)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);
  }
  Reporter reporter;  // plain text: the figures go into the README
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::printf("\n%8s %12s %12s %8s %12s %14s %12s %10s\n", "files", "rebuild ms", "plain ms", "ratio", "stat-only ms",
              "rebuild us/file", "plain us/file", "tick ms");
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
    std::printf("%8ld %12.3f %12.3f %8.2f %12.3f %14.2f %12.2f %10.3f\n", n, rebuild, plain,
                plain > 0 ? rebuild / plain : 0.0, stat, rebuild * 1000.0 / dn, plain * 1000.0 / dn, tick);
  }
  std::error_code ec;
  rel::fs::remove_all(root, ec);
  benchmark::Shutdown();
  return 0;
}
