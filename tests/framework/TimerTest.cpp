#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <functional>

#include "framework/Testing.h"
#include "framework/Runtime.h"
#include "framework/Timer.h"
#include "support/WaitFor.h"

using namespace fw;
using tptest::RunFor;
using tptest::RunUntil;

namespace {

// A program's timer subclass, hooked to Action the way the program's classes are.
class TickTimer : public Timer {
 public:
  int ticks = 0;
  qint64 firstTickAt = -1;
  QElapsedTimer since;
  std::function<void(TickTimer&)> onTick;
  void Event_Action() {
    if (ticks++ == 0) firstTickAt = since.elapsed();
    if (onTick) onTick(*this);
  }
};

class TimerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!FindClass("TickTimer"))
      RegisterClass(ClassBuilder<TickTimer, Timer>("TickTimer", "Timer").Hook("Action", &TickTimer::Event_Action,
                                                                              "Event_Action"));
  }
  Ref<TickTimer> Make(Int32 period) {
    auto t = New<TickTimer>();
    t->Period(period);
    t->since.start();
    return t;
  }
};

TEST_F(TimerTest, NewTimerStaysOff) {
  auto t = Make(10);
  EXPECT_EQ(t->Mode(), Timer::ModeOff);
  RunFor(100);
  EXPECT_EQ(t->ticks, 0);
}

TEST_F(TimerTest, ModeOneFiresOnceAfterThePeriodAndTurnsOff) {
  auto t = Make(40);
  t->Mode(Timer::ModeSingle);
  ASSERT_TRUE(RunUntil([&] { return t->ticks == 1; }, 2000));
  EXPECT_GE(t->firstTickAt, 35);
  EXPECT_EQ(t->Mode(), Timer::ModeOff);
  RunFor(150);
  EXPECT_EQ(t->ticks, 1);
}

TEST_F(TimerTest, HandlerRearmingKeepsTicking) {
  auto t = Make(10);
  t->onTick = [](TickTimer& self) {
    if (self.ticks < 4) self.Mode(Timer::ModeSingle);
  };
  t->Mode(Timer::ModeSingle);
  ASSERT_TRUE(RunUntil([&] { return t->ticks == 4; }, 2000));
  RunFor(80);
  EXPECT_EQ(t->ticks, 4);
}

TEST_F(TimerTest, ArmingAnArmedTimerAgainDoesNotPostponeIt) {
  auto t = Make(200);
  t->Mode(Timer::ModeSingle);
  // Data arriving every 20 ms, each arrival arming the timer again.
  QTimer arrivals;
  QObject::connect(&arrivals, &QTimer::timeout, [&] { t->Mode(Timer::ModeSingle); });
  arrivals.start(20);
  ASSERT_TRUE(RunUntil([&] { return t->ticks >= 1; }, 3000));
  arrivals.stop();
  EXPECT_LT(t->firstTickAt, 350) << "the wait restarted on every arrival";
}

TEST_F(TimerTest, ResetRestartsTheWait) {
  auto t = Make(150);
  t->Mode(Timer::ModeSingle);
  RunFor(100);
  t->Reset();
  RunFor(100);
  EXPECT_EQ(t->ticks, 0);
  ASSERT_TRUE(RunUntil([&] { return t->ticks == 1; }, 2000));
  EXPECT_GE(t->firstTickAt, 240);
}

TEST_F(TimerTest, ModeTwoRepeatsUntilModeZero) {
  auto t = Make(10);
  t->Mode(Timer::ModeMultiple);
  ASSERT_TRUE(RunUntil([&] { return t->ticks >= 5; }, 2000));
  EXPECT_EQ(t->Mode(), Timer::ModeMultiple);
  t->Mode(Timer::ModeOff);
  int seen = t->ticks;
  RunFor(80);
  EXPECT_EQ(t->ticks, seen);
}

TEST_F(TimerTest, TimerReleasedByItsOwnHandlerDoesNotCrash) {
  auto t = Make(5);
  TickTimer* raw = t.get();
  bool released = false;
  t->onTick = [&](TickTimer&) {
    t = nullptr;  // the last reference goes while the timer is firing
    released = true;
  };
  raw->Mode(Timer::ModeMultiple);
  ASSERT_TRUE(RunUntil([&] { return released; }, 2000));
  RunFor(50);
}

}  // namespace
