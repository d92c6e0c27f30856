// One record of 16 MiB without a line end (the longest line kept whole),
// delivered in 64 KiB slices as the TCP input takes it and stored as one call
// file through the program once its deadline passes. Then: the time of later
// ticks (one short record each: a call file written and the list rebuilt, the
// flood's file among them), and resident memory before the flood and after it
// has been stored, against the flood's size. A longer flood is written in
// pieces of the longest line as it arrives; memory is then measured against
// one piece.
//
//   bench_flood [--flood_mib=16] [--ticks=5]

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "capture/App.h"
#include "capture/Input.h"
#include "capture/SourceLines.h"
#include "capture/Startup.h"
#include "capture/customPort.h"
#include "capture/secondTimer.h"
#include "framework/Listbox.h"
#include "framework/Strings.h"
#include "framework/Testing.h"
#include "support/InProcessProgram.h"
#include "support/NetNamespace.h"
#include "support/ProcFigures.h"
#include "support/WaitFor.h"
#include "ui/Window1.h"

namespace {

double Ms(tptest::SteadyClock::time_point a, tptest::SteadyClock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

char FloodByte(size_t i) { return static_cast<char>('!' + (i * 7 + i / 4099) % 90); }  // no CR, LF or NUL

}  // namespace

int main(int argc, char** argv) {
  size_t mib = capture::kLongestLine / (1024 * 1024);
  int ticks = 5;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--flood_mib=", 12) == 0) mib = static_cast<size_t>(std::atol(argv[i] + 12));
    if (std::strncmp(argv[i], "--ticks=", 8) == 0) ticks = std::max(1, std::atoi(argv[i] + 8));
  }
  const size_t flood = mib * 1024 * 1024;
  tptest::EnterPrivateNetwork();

  tptest::Program program(tptest::Program::Lifetime::WholeProcess);
  program.AnswerDialogsThroughLog();
  tptest::StartRuntime(argc, argv);
  program.Start();
  // A few ordinary call files first, as a folder in use has.
  for (int i = 0; i < 10; ++i) capture::AppendDelivery(App()->myPort->line, "before " + std::to_string(i) + "\r\n");
  fw::testing::RunEventLoopUntil([] { return App()->buffer().empty(); }, 120000);
  fw::testing::RunEventLoopFor(1200);  // the idle tick clears the buffer line
  const long before = tptest::StatusKb(getpid(), "VmRSS");

  const auto t0 = tptest::SteadyClock::now();
  std::string slice(64 * 1024, '\0');
  for (size_t off = 0; off < flood; off += slice.size()) {
    for (size_t i = 0; i < slice.size(); ++i) slice[i] = FloodByte(off + i);
    capture::AppendDelivery(App()->myPort->line, slice.substr(0, std::min(slice.size(), flood - off)));
    fw::testing::RunEventLoopFor(0);
  }
  const double deliverS = tptest::SecondsSince(t0);
  const long during = tptest::StatusKb(getpid(), "VmRSS");
  // Stored at its deadline, ten seconds after the last slice.
  const bool stored = fw::testing::RunEventLoopUntil([] { return App()->buffer().empty(); }, 60000);
  fw::testing::RunEventLoopFor(1200);  // the next tick finds the buffer empty
  const long after = tptest::StatusKb(getpid(), "VmRSS");
  const long peak = tptest::StatusKb(getpid(), "VmHWM");

  std::vector<double> later;
  const int rows0 = tptest::Program::FileList()->ListCount();
  for (int i = 0; i < ticks; ++i) {
    App()->input.Append("after " + std::to_string(i) + "\r");
    auto t1 = tptest::SteadyClock::now();
    App()->regularTimer->Action.Raise();
    later.push_back(Ms(t1, tptest::SteadyClock::now()));
    fw::testing::RunEventLoopFor(50);
  }
  std::sort(later.begin(), later.end());
  const long afterTicks = tptest::StatusKb(getpid(), "VmRSS");
  const double floodMiB = static_cast<double>(flood) / (1024.0 * 1024.0);
  const double keptMiB = static_cast<double>(std::min(flood, capture::kLongestLine)) / (1024.0 * 1024.0);
  std::printf("flood of %.0f MiB: delivered in %.2f s, %s\n", floodMiB, deliverS,
              stored ? "stored as a call file" : "NOT STORED within 60 s");
  std::printf("later tick (call file written, list of %d rows rebuilt): median %.1f ms, worst %.1f ms (goal < 500 ms)\n",
              rows0 + 1, later[later.size() / 2], later.back());
  const double grew = static_cast<double>(after - before) / 1024.0;
  std::printf("resident memory: before %.1f MiB, with the flood in the buffer %.1f MiB, after it was stored %.1f MiB "
              "(+%.1f MiB = %.2f times the longest line kept; goal at most 1.25), after the later ticks %.1f MiB, peak %.1f MiB\n",
              before / 1024.0, during / 1024.0, after / 1024.0, grew, grew / keptMiB, afterTicks / 1024.0,
              peak / 1024.0);
  return stored ? 0 : 1;
}
