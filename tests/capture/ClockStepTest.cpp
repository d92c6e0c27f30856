// The machine's clock stepped while a line without a line end waits: it is
// still written whole about 10 s after its data, and so is the next one.
#include <gtest/gtest.h>

#include <chrono>

#include "capture/customPort.h"
#include "framework/Testing.h"
#include "support/InProcessProgram.h"
#include "support/WaitFor.h"

namespace {

using Steady = std::chrono::steady_clock;

struct ShiftedClock {
  explicit ShiftedClock(double seconds) { fw::testing::ShiftWallClock(seconds); }
  ~ShiftedClock() { fw::testing::ShiftWallClock(0); }
};

double SecondsSince(Steady::time_point t) { return std::chrono::duration<double>(Steady::now() - t).count(); }

class ClockStep : public ::testing::TestWithParam<double> {};

TEST_P(ClockStep, PartialLineIsWrittenWholeTenSecondsAfterItsData) {
  tptest::ListedPty pty;
  tptest::Program program;
  program.WritePrefs("port\t" + pty.slavePath() + "\nbaud\t8\nparity\t0\nstop\t0\nbits\t3\n");
  program.Start();
  auto app = program.app();
  ASSERT_TRUE(app->myPort->IsOpen()) << program.Status();

  pty.Write("before the step");
  const auto firstData = Steady::now();
  ASSERT_TRUE(tptest::RunUntil([&] { return app->buffer() == "before the step"; }, 3000));
  ShiftedClock stepped(GetParam());

  // Waiting for the deadline taken before the step.
  ASSERT_TRUE(tptest::RunUntil([&] { return !program.CallFiles().empty(); }, 15000)) << "still waiting: " << app->buffer();
  double after = SecondsSince(firstData);
  EXPECT_GE(after, 9.9) << "cut before its deadline";
  EXPECT_LE(after, 11.5);

  // A deadline moved after the step.
  pty.Write("after the step");
  const auto secondData = Steady::now();
  ASSERT_TRUE(tptest::RunUntil([&] { return program.CallFiles().size() >= 2; }, 15000)) << "still waiting: " << app->buffer();
  after = SecondsSince(secondData);
  EXPECT_GE(after, 9.9) << "cut before its deadline";
  EXPECT_LE(after, 11.5);
  EXPECT_EQ(program.CallContents(), (std::vector<std::string>{"before the step", "after the step"}));
}

INSTANTIATE_TEST_SUITE_P(OneHour, ClockStep, ::testing::Values(-3600.0, 3600.0),
                         [](const auto& info) { return std::string(info.param < 0 ? "Back" : "Forward"); });

}  // namespace
