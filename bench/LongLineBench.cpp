// A line that never ends: 1 GiB without a line end over TCP, with serial
// records arriving all the while, through the program's real handlers and
// event loop. Measured: resident memory at its peak, the longest stall of the
// event loop (a 10 ms probe timer on the same loop), the time to store it all,
// and that every byte is in the call files in order and every serial record
// whole. Floor: a plain C loop writing the same bytes as files of the same
// size, each synced, as the program does.
//
//   bench_long_line [--gib=1] [--runs=3]

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <thread>

#include "capture/App.h"
#include "capture/SourceLines.h"
#include "framework/Timer.h"
#include "framework/Testing.h"
#include "support/CallFolder.h"
#include "support/InProcessProgram.h"
#include "support/NetNamespace.h"
#include "support/ProcFigures.h"
#include "support/SettingsFile.h"
#include "support/TcpClient.h"
#include "support/TestEnvironment.h"
#include "support/WaitFor.h"

namespace {

char FloodByte(size_t i) { return static_cast<char>('!' + (i * 7 + i / 4099) % 90); }  // no CR, LF or NUL

void Fill(std::string& chunk, size_t off) {
  for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = FloodByte(off + i);
}

// Writes total bytes as files of piece bytes, each synced with its folder.
double FloorSeconds(const std::string& dir, size_t total, size_t piece) {
  tptest::fs::create_directories(dir);
  std::string chunk(64 * 1024, '\0');
  const auto t0 = tptest::SteadyClock::now();
  int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (size_t off = 0, n = 0; off < total; off += piece, ++n) {
    std::string path = dir + "/" + std::to_string(n) + ".txt";
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    for (size_t o = off; o < std::min(total, off + piece); o += chunk.size()) {
      Fill(chunk, o);
      if (write(fd, chunk.data(), std::min(chunk.size(), std::min(total, off + piece) - o)) < 0) std::perror("write");
    }
    fsync(fd);
    close(fd);
    fsync(dfd);
  }
  close(dfd);
  const double s = tptest::SecondsSince(t0);
  std::error_code ec;
  tptest::fs::remove_all(dir, ec);
  return s;
}

struct Run {
  double seconds = 0, worstStallMs = 0, floorSeconds = 0;
  long peakKb = 0;
  size_t files = 0, serialSent = 0, serialWhole = 0;
  bool inOrder = false;
};

}  // namespace

int main(int argc, char** argv) {
  size_t gib = 1;
  int runs = 3;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--gib=", 6) == 0) gib = static_cast<size_t>(std::atol(argv[i] + 6));
    if (std::strncmp(argv[i], "--runs=", 7) == 0) runs = std::max(1, std::atoi(argv[i] + 7));
  }
  const size_t total = gib * 1024 * 1024 * 1024;
  tptest::Namespaces ns = tptest::EnterPrivateNamespaces(true, false);
  if (!ns.net) {
    std::cerr << "needs port 23 in a network namespace of its own: " << ns.netWhy << "\n";
    return 1;
  }
  tptest::Program program(tptest::Program::Lifetime::WholeProcess);
  tptest::ListedPty pty;
  tptest::WriteSettingsFile(program.preferences(), pty.slavePath());
  program.AnswerDialogsThroughLog();
  tptest::StartRuntime(argc, argv);
  program.Start();
  const std::string calls = program.callsDir();

  std::vector<Run> results;
  for (int r = 0; r < runs; ++r) {
    Run run;
    for (auto& e : tptest::fs::directory_iterator(calls)) tptest::fs::remove(e.path());
    fw::testing::RunEventLoopFor(600);

    // The probe: gaps between its actions beyond its period are stalls.
    fw::Ref<fw::Timer> probe = fw::New<fw::Timer>();
    tptest::SteadyClock::time_point last{};
    bool armed = false;
    probe->Action.Install(std::make_shared<fw::Delegate<void()>>([&] {
      auto now = tptest::SteadyClock::now();
      if (armed) run.worstStallMs = std::max(run.worstStallMs, std::chrono::duration<double, std::milli>(now - last).count() - 10.0);
      last = now;
      armed = true;
    }, "probe.Action"));
    probe->Period(10);
    probe->Mode(fw::Timer::ModeMultiple);

    std::atomic<bool> done{false}, failed{false};
    const auto t0 = tptest::SteadyClock::now();
    std::thread sender([&] {
      tptest::TcpClient c;
      if (!c.Connect(23)) {
        failed = true;
        done = true;
        return;
      }
      std::string chunk(64 * 1024, '\0');
      for (size_t off = 0; off < total; off += chunk.size()) {
        Fill(chunk, off);
        if (!c.Send(std::string_view(chunk).substr(0, std::min(chunk.size(), total - off)))) {
          failed = true;
          break;
        }
      }
      c.WaitAcked(tptest::milliseconds(60000));
      done = true;  // closing ends the unfinished rest at once
    });
    std::thread serial([&] {
      while (!done) {
        pty.Write("CALL-S " + std::to_string(run.serialSent) + " during the flood\r\n");
        ++run.serialSent;
        std::this_thread::sleep_for(tptest::milliseconds(250));
      }
    });
    fw::testing::RunEventLoopUntil([&] { return done.load(); }, 600000);
    sender.join();
    serial.join();
    // The rest of the flood and the serial records still waiting.
    fw::testing::RunEventLoopUntil([&] { return App()->buffer().empty() && pty.Unread() == 0; }, 120000);
    fw::testing::RunEventLoopFor(1200);
    run.seconds = tptest::SecondsSince(t0);
    probe->Mode(fw::Timer::ModeOff);
    run.peakKb = tptest::StatusKb(getpid(), "VmHWM");

    // Every byte in order, every serial record whole and once.
    size_t at = 0;
    bool inOrder = !failed;
    std::vector<bool> seen(run.serialSent, false);
    for (auto& f : tptest::ReadCallFolder(calls, false).files) {
      ++run.files;
      std::string content = tptest::ReadFile(calls + "/" + f.name);
      if (content.rfind("CALL-S ", 0) == 0) {
        size_t n = std::strtoul(content.c_str() + 7, nullptr, 10);
        if (n < seen.size() && content == "CALL-S " + std::to_string(n) + " during the flood" && !seen[n]) {
          seen[n] = true;
          ++run.serialWhole;
        } else {
          inOrder = false;
        }
        continue;
      }
      if (content.size() > capture::kLongestLine) inOrder = false;
      for (size_t i = 0; i < content.size() && inOrder; ++i)
        if (content[i] != FloodByte(at + i)) inOrder = false;
      at += content.size();
    }
    run.inOrder = inOrder && at == total;
    run.floorSeconds = FloorSeconds(program.scratch("floor"), total, capture::kLongestLine);
    std::printf("run %d: %.1f s (floor %.1f s, %.2f times), peak resident %.0f MiB, longest event-loop stall %.0f ms, "
                "%zu call files, %zu of %zu serial records whole, flood %s\n",
                r + 1, run.seconds, run.floorSeconds, run.seconds / run.floorSeconds, run.peakKb / 1024.0,
                run.worstStallMs, run.files, run.serialWhole, run.serialSent,
                run.inOrder ? "complete and in order" : "NOT COMPLETE OR OUT OF ORDER");
    std::fflush(stdout);
    results.push_back(run);
  }
  auto median = [&](auto get) {
    std::vector<double> v;
    for (auto& r : results) v.push_back(get(r));
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  bool ok = true;
  for (auto& r : results) ok = ok && r.inOrder && r.serialWhole == r.serialSent;
  std::printf("median of %d: %.1f s for %zu GiB (floor %.1f s, %.2f times), peak resident %.0f MiB (goal < 512), "
              "longest stall %.0f ms; every byte in order and every serial record whole: %s\n",
              runs, median([](const Run& r) { return r.seconds; }), gib, median([](const Run& r) { return r.floorSeconds; }),
              median([](const Run& r) { return r.seconds / r.floorSeconds; }),
              median([](const Run& r) { return r.peakKb / 1024.0; }), median([](const Run& r) { return r.worstStallMs; }),
              ok ? "yes" : "NO");
  return ok ? 0 : 1;
}
