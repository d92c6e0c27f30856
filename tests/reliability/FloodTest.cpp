// The longest line kept whole (16 MiB) without a line end over TCP: the event
// loop keeps serving (measured by a 10 ms probe timer on the same loop), and
// once its deadline passes (or its connection ends) the whole flood is one
// call file, byte for byte.
// A longer line is written in pieces as it arrives (RecordSourcesTest).

#include <gtest/gtest.h>

#include <atomic>
#include <iostream>

#include "capture/IPSocket.h"
#include "capture/SourceLines.h"
#include "capture/secondTimer.h"
#include "framework/Timer.h"
#include "support/CallFolder.h"
#include "support/InProcessProgram.h"
#include "support/NetNamespace.h"
#include "support/ProcFigures.h"
#include "support/TcpClient.h"
#include "support/WaitFor.h"

static const tptest::Namespaces kNs = tptest::EnterPrivateNamespaces(true, false);

namespace {

using tptest::Program;

#if defined(__SANITIZE_ADDRESS__)
// Sanitized memory is several times slower to touch: a smaller flood keeps the run short.
constexpr size_t kFlood = 12u * 1024 * 1024;
#else
constexpr size_t kFlood = capture::kLongestLine;
#endif
// The aim is 100 ms; growing a buffer of this size and showing it cost a few
// hundred on a loaded machine. A stall beyond this means work that grows with
// the flood has crept into every delivery or tick.
constexpr double kWorstDelayMs = 1500.0;

char FloodByte(size_t i) { return static_cast<char>('!' + (i * 7 + i / 4099) % 90); }  // no CR, LF or NUL

// Gaps between the probe's actions, beyond its period.
struct Probe {
  fw::Ref<fw::Timer> timer = fw::New<fw::Timer>();
  tptest::SteadyClock::time_point last;
  double worstMs = 0;
  bool armed = false;
  ~Probe() { timer->Mode(fw::Timer::ModeOff); }
  void Start() {
    timer->Action.Install(std::make_shared<fw::Delegate<void()>>([this] {
      auto now = tptest::SteadyClock::now();
      if (armed) worstMs = std::max(worstMs, std::chrono::duration<double, std::milli>(now - last).count() - 10.0);
      last = now;
      armed = true;
    }, "probe.Action"));
    timer->Period(10);
    timer->Mode(fw::Timer::ModeMultiple);
  }
  double TakeWorst() {
    double w = worstMs;
    worstMs = 0;
    armed = false;
    return w;
  }
};

// The slowest run of a handler, timed around the program's own handler. The
// object owns the handler, so the handler holds it by plain pointer.
struct Slowest {
  double ms = 0;
  int runs = 0;
  template <class T>
  void Wrap(const fw::Ref<T>& obj, const char* event, void (T::*op)(), const char* name) {
    T* target = obj.get();
    fw::_InstallInstanceEventHandler(obj, event, std::make_shared<fw::Delegate<void()>>([this, target, op] {
      auto t0 = tptest::SteadyClock::now();
      (target->*op)();
      ms = std::max(ms, std::chrono::duration<double, std::milli>(tptest::SteadyClock::now() - t0).count());
      ++runs;
    }, name));
  }
};

TEST(Flood, LongestLineWithoutLineEndStaysResponsiveAndBecomesOneFile) {
  if (!kNs.net) GTEST_SKIP() << "needs port 23 in a network namespace of its own: " << kNs.netWhy;
  Program& p = Program::Shared(false);
  const std::string calls = p.FreshCallsFolder("calls");
  ASSERT_TRUE(tptest::RunUntil([] { return tptest::TcpListening(23); }, 5000));

  Probe probe;
  probe.Start();
  std::atomic<bool> sent{false}, failed{false}, received{false};
  const auto start = tptest::SteadyClock::now();
  std::thread sender([&] {
    tptest::TcpClient c;
    if (!c.Connect(23)) {
      failed = true;
      return;
    }
    std::string chunk(64 * 1024, '\0');
    for (size_t off = 0; off < kFlood && tptest::SecondsSince(start) < 120; off += chunk.size()) {
      for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = FloodByte(off + i);
      if (!c.Send(chunk)) {
        failed = true;
        return;
      }
    }
    c.WaitAcked(tptest::milliseconds(30000));
    sent = true;
    // Keep the connection until the test is done with it.
    while (!received && tptest::SecondsSince(start) < 120)
      std::this_thread::sleep_for(tptest::milliseconds(20));
  });

  // Time the program's handlers, to tell which of them holds the loop.
  Slowest ticks, deliveries;
  ticks.Wrap(App()->regularTimer, "Action", &secondTimer::Event_Action, "secondTimer.Event_Action");
  tptest::RunUntil([] { return !Program::Listener()->ActiveConnections().empty(); }, 10000);
  for (auto& c : Program::Listener()->ActiveConnections())
    deliveries.Wrap(fw::RuntimeCheckCast<IPSocket>(c), "DataAvailable", &IPSocket::Event_DataAvailable,
                    "IPSocket.Event_DataAvailable");
  const bool arrived = tptest::RunUntil([&] { return failed || (sent && App()->buffer().size() >= kFlood); },
                                              120000);
  const Slowest floodTicks = ticks;
  ticks.ms = 0;
  ticks.runs = 0;
  const double floodSeconds = tptest::SecondsSince(start);
  const double floodLatency = probe.TakeWorst();
  received = true;
  sender.join();
  ASSERT_FALSE(failed) << "the sender could not deliver";
  ASSERT_TRUE(arrived) << "only " << App()->buffer().size() << " bytes arrived";
  EXPECT_EQ(App()->buffer().size(), kFlood);

  const auto writeStart = tptest::SteadyClock::now();
  ASSERT_TRUE(tptest::RunUntil([] { return App()->buffer().empty(); }, 20000)) << "never written at its deadline";
  const double writeLatency = probe.TakeWorst();
  const double writeSeconds = tptest::SecondsSince(writeStart);

  tptest::CallFolder got = tptest::ReadCallFolder(calls);
  ASSERT_EQ(got.files.size(), 1u);
  const std::string& c = got.files[0].content;
  ASSERT_EQ(c.size(), kFlood);
  size_t firstBad = kFlood;
  for (size_t i = 0; i < kFlood; ++i)
    if (c[i] != FloodByte(i)) {
      firstBad = i;
      break;
    }
  EXPECT_EQ(firstBad, kFlood) << "the call file differs from what was sent at byte " << firstBad;
  EXPECT_EQ(Program::FileList()->ListCount(), 1);

  std::cout << "flood: " << kFlood / (1024 * 1024) << " MB received in " << floodSeconds << " s, worst event-loop delay " << floodLatency
            << " ms; written " << writeSeconds << " s later (deadline included), worst delay then " << writeLatency
            << " ms; peak RSS " << tptest::StatusKb(getpid(), "VmHWM") / 1024 << " MiB\n"
            << "  slowest handlers during the flood: tick " << floodTicks.ms << " ms (" << floodTicks.runs
            << " ticks), delivery " << deliveries.ms << " ms (" << deliveries.runs << " deliveries); the tick that"
            << " wrote the file " << ticks.ms << " ms\n";
  EXPECT_LT(floodLatency, kWorstDelayMs) << "the window stalls while the flood arrives";
}

}  // namespace
