// The backlog a telephone system sends at once after a reconnect: 5,000
// records at 19,200 baud through a pseudo-terminal into the real program.
// A pty is not paced by its baud rate, so the writes are paced here at 1,920
// bytes a second. Measured from /proc: CPU and memory over the delivery,
// per write and per record, then a sample of ticks; the full drain (one
// record per 500 ms tick, some 2,500 s) is projected, not waited for.
//
//   bench_backlog [--records=5000] [--tick_sample_s=20] [benchmark flags]

#include <benchmark/benchmark.h>

#include <csignal>
#include <cstdlib>
#include <thread>

#include "RunOnce.h"
#include "support/CallFolder.h"
#include "support/ChildProgram.h"
#include "support/ProcFigures.h"
#include "support/Pty.h"
#include "support/WaitFor.h"

namespace {

long gRecords = 5000;
double gTickSample = 20;

std::string Record(long i) {
  char b[128];
  std::snprintf(b, sizeof b, "%05ld 01/02 09:%02ld %04ld %03ld 0%09ld 00:%02ld:%02ld ..... 0.%02ld\r\n", i, i % 60,
                2000 + i % 7000, 100 + i % 900, i * 7919 % 1000000000, i % 60, i * 7 % 60, i % 100);
  return b;
}

void BM_Backlog(benchmark::State& state) {
  for (auto _ : state) {
    tptest::ProgramOnPty run(TALLYPOINT_BINARY);
    if (!run.Start()) return state.SkipWithError(("the program did not start: " + run.Log()).c_str());
    tptest::ChildProgram& prog = *run.prog;
    std::this_thread::sleep_for(tptest::milliseconds(1000));
    const pid_t pid = prog.pid();
    const double cpuStart = tptest::CpuSeconds(pid);
    const long rssStart = tptest::StatusKb(pid, "VmRSS");

    std::string all;
    for (long i = 0; i < gRecords; ++i) all += Record(i);
    const double limit = static_cast<double>(all.size()) / 1920.0 * 1.5 + 60;
    size_t written = 0;
    long writes = 0;
    const auto t0 = tptest::SteadyClock::now();
    while (written < all.size() && tptest::SecondsSince(t0) < limit) {
      // Pace at 1,920 bytes a second, in the small bursts a UART delivers.
      size_t due = std::min(all.size(), static_cast<size_t>(tptest::SecondsSince(t0) * 1920.0) + 1);
      if (due > written) {
        size_t n = run.pty.WriteSome(std::string_view(all).substr(written, due - written));
        written += n;
        if (n > 0) ++writes;
      }
      std::this_thread::sleep_for(tptest::milliseconds(20));
    }
    const double deliverySeconds = tptest::SecondsSince(t0);
    const double cpuDelivery = tptest::CpuSeconds(pid) - cpuStart;
    const long rssDelivered = tptest::StatusKb(pid, "VmRSS");
    const size_t filesAfterDelivery = tptest::ReadCallFolder(prog.callsDir(), false).files.size();

    // A sample of ticks with the backlog waiting.
    const double cpuT0 = tptest::CpuSeconds(pid);
    const auto s0 = tptest::SteadyClock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<long>(gTickSample * 1000)));
    const double sampleSeconds = tptest::SecondsSince(s0);
    const double cpuTicks = tptest::CpuSeconds(pid) - cpuT0;
    const size_t filesAfterSample = tptest::ReadCallFolder(prog.callsDir(), false).files.size();
    const double ticks = static_cast<double>(filesAfterSample - filesAfterDelivery);
    const long hwm = tptest::StatusKb(pid, "VmHWM");
    const long rssEnd = tptest::StatusKb(pid, "VmRSS");
    const bool alive = prog.Alive();
    prog.Stop(SIGKILL, tptest::milliseconds(3000));
    if (!alive) {
      state.SkipWithError("the program died during the backlog");
      return;
    }
    if (written < all.size()) {
      state.SkipWithError("the delivery did not finish in time");
      return;
    }
    state.SetIterationTime(deliverySeconds);

    const double cpuPerTick = ticks > 0 ? cpuTicks / ticks : 0;
    const double ticksDuringDelivery = static_cast<double>(filesAfterDelivery);
    const double cpuDeliveryOnly = std::max(0.0, cpuDelivery - ticksDuringDelivery * cpuPerTick);
    state.counters["records"] = static_cast<double>(gRecords);
    state.counters["bytes"] = static_cast<double>(all.size());
    state.counters["writes"] = static_cast<double>(writes);
    state.counters["delivery_s"] = deliverySeconds;
    state.counters["delivery_cpu_s"] = cpuDelivery;
    state.counters["cpu_per_write_us"] = cpuDeliveryOnly / static_cast<double>(writes) * 1e6;
    state.counters["rss_start_MiB"] = static_cast<double>(rssStart) / 1024.0;
    state.counters["rss_delivered_MiB"] = static_cast<double>(rssDelivered) / 1024.0;
    state.counters["rss_per_record_B"] = static_cast<double>(rssDelivered - rssStart) * 1024.0 / static_cast<double>(gRecords);
    state.counters["ticks_per_s"] = ticks / sampleSeconds;
    state.counters["cpu_per_tick_ms"] = cpuPerTick * 1000.0;
    state.counters["rss_end_MiB"] = static_cast<double>(rssEnd) / 1024.0;
    state.counters["peak_rss_MiB"] = static_cast<double>(hwm) / 1024.0;
    state.counters["drain_projected_s"] =
        ticks > 0 ? static_cast<double>(static_cast<size_t>(gRecords) - filesAfterSample) / (ticks / sampleSeconds) : 0;
  }
}

}  // namespace

int main(int argc, char** argv) {
  return RunOnce(argc, argv, "Backlog19200Baud", BM_Backlog, [](std::string_view arg) {
    if (arg.substr(0, 10) == "--records=") gRecords = std::atol(arg.data() + 10);
    if (arg.substr(0, 16) == "--tick_sample_s=") gTickSample = std::atof(arg.data() + 16);
  });
}
