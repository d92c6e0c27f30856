#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <csignal>
#include <functional>

#include "framework/Application.h"
#include "framework/Runtime.h"

using namespace fw;

namespace {

class TestApp : public Application {
 public:
  std::vector<std::string> log;
  std::function<bool()> onCancelClose = [] { return false; };
  std::function<void()> onOpen = [] {};
  std::function<void()> onTerminating = [] {};
  void Event_Open() {
    log.push_back("Open");
    onOpen();
  }
  bool Event_CancelClose() {
    log.push_back("CancelClose");
    return onCancelClose();
  }
  void Event_Terminating() {
    log.push_back("Terminating");
    onTerminating();
  }
  bool _Prefs_Action() {
    log.push_back("Prefs");
    return false;
  }
  bool Failing_Action() { throw NilObjectException(); }
};

// Runs f on the loop after ms.
void After(int ms, std::function<void()> f) { QTimer::singleShot(ms, QCoreApplication::instance(), std::move(f)); }

class ApplicationTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (FindClass("TestApp")) return;
    RegisterClass(ClassBuilder<TestApp, Application>("TestApp", "Application")
                      .Hook("Open", &TestApp::Event_Open, "Event_Open")
                      .Hook("CancelClose", &TestApp::Event_CancelClose, "Event_CancelClose")
                      .Hook("Terminating", &TestApp::Event_Terminating, "Event_Terminating"));
  }
  void SetUp() override {
    app = New<TestApp>();
    _RuntimeRegisterAppObject(app);
    // Nothing may hang a test run: a last-resort end of the loop.
    guard = new QTimer;
    guard->setSingleShot(true);
    QObject::connect(guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard->start(10000);
  }
  void TearDown() override { delete guard; }
  Ref<TestApp> app;
  QTimer* guard = nullptr;
};

TEST_F(ApplicationTest, OpenComesFirstAndCancelledQuitKeepsRunning) {
  int asked = 0;
  app->onCancelClose = [&] { return ++asked == 1; };  // Cancel first, then Quit
  app->onOpen = [&] {
    After(10, [&] {
      EXPECT_FALSE(Quit());
      After(10, [&] { EXPECT_TRUE(Quit()); });
    });
  };
  _RuntimeRun();
  EXPECT_EQ(app->log, (std::vector<std::string>{"Open", "CancelClose", "CancelClose"}));
  EXPECT_EQ(RuntimeExit(), 0);
}

TEST_F(ApplicationTest, SecondQuitWhileConfirmationIsUpIsIgnored) {
  app->onCancelClose = [&] {
    // The confirmation is modal: the loop runs inside it, and a second
    // Quit arrives from it.
    QEventLoop modal;
    After(10, [&] {
      EXPECT_FALSE(Quit());
      modal.quit();
    });
    modal.exec();
    return false;
  };
  app->onOpen = [] { After(5, [] { EXPECT_TRUE(Quit()); }); };
  _RuntimeRun();
  EXPECT_EQ(app->log, (std::vector<std::string>{"Open", "CancelClose"}));
  EXPECT_EQ(RuntimeExit(), 0);
}

TEST_F(ApplicationTest, SigtermRaisesTerminatingWithoutAskingAndEndsTheRun) {
  app->onOpen = [] { After(10, [] { std::raise(SIGTERM); }); };
  _RuntimeRun();
  EXPECT_EQ(app->log, (std::vector<std::string>{"Open", "Terminating"}));
  EXPECT_EQ(RuntimeExit(), 128 + SIGTERM);
}

TEST_F(ApplicationTest, SignalEndsTheRunFromInsideAModalLoop) {
  bool modalReturned = false;
  app->onOpen = [&] {
    QEventLoop modal;  // a dialog left open on an unattended machine
    After(10, [] { std::raise(SIGHUP); });
    modal.exec();
    modalReturned = true;
  };
  _RuntimeRun();
  EXPECT_TRUE(modalReturned);
  EXPECT_EQ(app->log, (std::vector<std::string>{"Open", "Terminating"}));
  EXPECT_EQ(RuntimeExit(), 128 + SIGHUP);
}

TEST_F(ApplicationTest, QuitDuringStartupKeepsTheLoopFromStarting) {
  EXPECT_TRUE(Quit());
  _RuntimeRun();
  EXPECT_EQ(app->log, std::vector<std::string>{"CancelClose"});
  EXPECT_EQ(RuntimeExit(), 0);
}

TEST_F(ApplicationTest, MenuItemsReachTheirHandlersThroughTheGuard) {
  app->_AddMenuHandler("Prefs", NewDelegate(app.get(), &TestApp::_Prefs_Action, "App._Prefs_Action"));
  app->_AddMenuHandler("Broken", NewDelegate(app.get(), &TestApp::Failing_Action, "App.Failing_Action"));
  EXPECT_FALSE(app->HandleMenuItem("Prefs"));
  EXPECT_EQ(app->log, std::vector<std::string>{"Prefs"});
  EXPECT_FALSE(app->HandleMenuItem("Nothing"));
  int before = UnhandledExceptionCount();
  EXPECT_FALSE(app->HandleMenuItem("Broken"));
  EXPECT_EQ(UnhandledExceptionCount(), before + 1);
  EXPECT_EQ(_GetAppObject().get(), app.get());
}

}  // namespace
