#include <gtest/gtest.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>
#include <functional>

#include "framework/Testing.h"
#include "framework/Application.h"
#include "framework/Runtime.h"
#include "framework/Timer.h"
#include "support/StderrCapture.h"
#include "support/WaitFor.h"

using namespace fw;

namespace {

using tptest::StderrCapture;
using tptest::RunUntil;

class Gadget : public Object {
 public:
  Event<void()> Fired{this, "Fired"};
  Event<bool()> Asked{this, "Asked"};
  std::vector<std::string> calls;
  void OnFiredBase() { calls.push_back("base"); }
  bool OnAsked() {
    calls.push_back("asked");
    return true;
  }
};
class FancyGadget : public Gadget {
 public:
  void OnFiredFancy() { calls.push_back("fancy"); }
};
class BrokenGadget : public Gadget {
 public:
  bool WrongShape() { return false; }
};

class FailingTimer : public Timer {
 public:
  int ticks = 0;
  Ref<Object> missing;
  void Event_Action() {
    ++ticks;
    missing->ClassName();  // a nil object, as a call file that cannot be created gives
  }
};

class RuntimeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (FindClass("Gadget")) return;
    RegisterClass(ClassBuilder<Gadget, Object>("Gadget", "Object")
                      .Hook("Fired", &Gadget::OnFiredBase, "OnFiredBase")
                      .Hook("Asked", &Gadget::OnAsked, "OnAsked"));
    RegisterClass(ClassBuilder<FancyGadget, Gadget>("FancyGadget", "Gadget")
                      .Hook("Fired", &FancyGadget::OnFiredFancy, "OnFiredFancy"));
    RegisterClass(ClassBuilder<BrokenGadget, Gadget>("BrokenGadget", "Gadget")
                      .Hook("Fired", &BrokenGadget::WrongShape, "WrongShape"));
    RegisterClass(ClassBuilder<FailingTimer, Timer>("secondTimer", "Timer")
                      .Hook("Action", &FailingTimer::Event_Action, "Event_Action"));
  }
};

TEST_F(RuntimeTest, RegistrationRefusesDuplicatesAndUnknownSuperclasses) {
  EXPECT_THROW(RegisterClass(ClassBuilder<Gadget, Object>("Gadget", "Object")), RuntimeException);
  EXPECT_THROW(RegisterClass(ClassBuilder<Gadget, Object>("Orphan", "NoSuchClass")), RuntimeException);
  EXPECT_EQ(FindClass("Orphan"), nullptr);
  // The refused duplicate replaced nothing.
  ASSERT_NE(FindClass("Gadget"), nullptr);
  EXPECT_EQ(FindClass(std::type_index(typeid(Gadget))), FindClass("Gadget"));
  EXPECT_EQ(FindClass("FancyGadget")->super, FindClass("Gadget"));
  EXPECT_EQ(FindClass("Timer")->super, FindClass("Object"));
}

TEST_F(RuntimeTest, ObjectsKnowTheirClassChain) {
  auto g = New<FancyGadget>();
  EXPECT_EQ(g->ClassName(), "FancyGadget");
  EXPECT_TRUE(g->IsA("Gadget"));
  EXPECT_TRUE(g->IsA("Object"));
  EXPECT_FALSE(g->IsA("Timer"));
  EXPECT_EQ(RuntimeCheckCast<Gadget>(Ref<Object>(g)).get(), g.get());
  EXPECT_THROW(RuntimeCheckCast<Timer>(Ref<Object>(g)), IllegalCastException);
  EXPECT_NE(g->FindEvent("Fired"), nullptr);
  EXPECT_EQ(g->FindEvent("NoSuchEvent"), nullptr);
}

TEST_F(RuntimeTest, SubclassHookReplacesTheSuperclassHook) {
  auto fancy = New<FancyGadget>();
  fancy->Fired.Raise();
  EXPECT_TRUE(fancy->Asked.Raise());  // inherited hook still installed
  EXPECT_EQ(fancy->calls, (std::vector<std::string>{"fancy", "asked"}));
  auto plain = New<Gadget>();
  plain->Fired.Raise();
  EXPECT_EQ(plain->calls, std::vector<std::string>{"base"});
}

TEST_F(RuntimeTest, HandlerOfTheWrongSignatureIsRefused) {
  auto g = New<Gadget>();
  auto wrong = NewDelegate(g.get(), &Gadget::OnAsked, "Gadget.OnAsked");
  try {
    g->FindEvent("Fired")->InstallAny(wrong);
    FAIL() << "installed a handler of the wrong signature";
  } catch (const RuntimeException& e) {
    std::string what = e.what();
    EXPECT_NE(what.find("Fired"), std::string::npos) << what;
    EXPECT_NE(what.find("\"(  )\""), std::string::npos) << what;
    EXPECT_NE(what.find("\"(  ) as Boolean\""), std::string::npos) << what;
    EXPECT_NE(what.find("Gadget.OnAsked"), std::string::npos) << what;
  }
  g->Fired.Raise();
  EXPECT_EQ(g->calls, std::vector<std::string>{"base"});  // the old handler stays
  EXPECT_THROW(New<BrokenGadget>(), RuntimeException);   // a class hooking a wrong shape
}

TEST_F(RuntimeTest, ExceptionInAHandlerIsReportedAndTheLoopGoesOn) {
  auto t = New<FailingTimer>();
  int before = UnhandledExceptionCount();
  StderrCapture err;
  t->Period(5);
  t->Mode(Timer::ModeMultiple);
  bool ran = RunUntil([&] { return t->ticks >= 3; }, 3000);
  t->Mode(Timer::ModeOff);
  std::string text = err.Text();
  ASSERT_TRUE(ran) << "the loop stopped after a handler failed";
  EXPECT_EQ(UnhandledExceptionCount() - before, t->ticks);
  EXPECT_EQ(text.substr(0, text.find('\n') + 1),
            "TallyPoint: unhandled NilObjectException in secondTimer.Event_Action: nil object used\n");
}

// A failure that repeats every tick must not flood standard error: the first
// report, then the 10th, 100th ... repeat, and a new failure at once.
TEST_F(RuntimeTest, RepeatedFailureIsReportedOnceThenAtEachPowerOfTen) {
  auto g = New<Gadget>();
  g->Fired.Install(std::make_shared<Delegate<void()>>([] { throw IOException("Calls is gone"); }, "Gadget.Write"));
  StderrCapture err;
  for (int i = 0; i < 101; ++i) g->Fired.Raise();
  g->Fired.Install(std::make_shared<Delegate<void()>>([] { throw IOException("disk full"); }, "Gadget.Write"));
  g->Fired.Raise();
  const std::string first = "TallyPoint: unhandled IOException in Gadget.Write: Calls is gone";
  EXPECT_EQ(err.Text(), first + "\n" + first + " (repeated 10 times)\n" + first + " (repeated 100 times)\n" +
                            "TallyPoint: unhandled IOException in Gadget.Write: disk full\n");
}

TEST_F(RuntimeTest, HandlerWhoseTargetWasReleasedIsReportedNotCalled) {
  auto g = New<Gadget>();
  auto other = New<Gadget>();
  g->Fired.Install(NewDelegate(other.get(), &Gadget::OnFiredBase, "Gadget.OnFiredBase"));
  other = nullptr;
  int before = UnhandledExceptionCount();
  StderrCapture err;
  g->Fired.Raise();
  EXPECT_EQ(UnhandledExceptionCount(), before + 1);
  EXPECT_NE(err.Text().find("NilObjectException in Gadget.OnFiredBase"), std::string::npos);
}

TEST_F(RuntimeTest, StartupExceptionsReachTheCaller) {
  auto ok = std::make_shared<Delegate<void()>>([] {}, "_Startup");
  EXPECT_NO_THROW(_RunFrameworkInitialization(ok));
  auto failing = std::make_shared<Delegate<void()>>([] { throw NilObjectException(); }, "_Startup");
  EXPECT_THROW(_RunFrameworkInitialization(failing), NilObjectException);
}

TEST_F(RuntimeTest, ModuleExitsRunNewestFirstAndDropTheAppObject) {
  std::vector<int> order;
  RegisterModuleExit([&] { order.push_back(1); });
  RegisterModuleExit([&] { throw RuntimeException("a failing exit"); });
  RegisterModuleExit([&] { order.push_back(3); });
  _RuntimeRegisterAppObject(New<Application>());
  StderrCapture err;
  RuntimeModuleFinalization();
  EXPECT_EQ(order, (std::vector<int>{3, 1}));  // a failing exit does not stop the others
  EXPECT_TRUE(_GetAppObject().IsNil());
  RuntimeModuleFinalization();
  EXPECT_EQ(order.size(), 2u);
}

}  // namespace
