// Start-up, the Open event, the quit confirmation and the end of a run.
#include <gtest/gtest.h>

#include <filesystem>

#include "capture/App.h"
#include "capture/customPort.h"
#include "capture/secondTimer.h"
#include "framework/Date.h"
#include "framework/ProgressWheel.h"
#include "framework/Testing.h"
#include "support/InProcessProgram.h"
#include "support/TestEnvironment.h"
#include "ui/Window1.h"
#include "ui/prefsWindow.h"

using fw::testing::ModalAnswer;
using fw::testing::ModalRequest;
using tptest::Program;

namespace {

const std::string DefaultPrefs = "port\t\nbaud\t4\nparity\t0\nstop\t0\nbits\t3\n";

// Answers every modal dialog with one answer and keeps what it was asked.
struct Answerer {
  explicit Answerer(ModalAnswer a) {
    fw::testing::SetModalAnswerer([this, a](const ModalRequest& r) {
      asked.push_back(r);
      return a;
    });
  }
  ~Answerer() { fw::testing::ClearModalAnswerer(); }
  std::vector<ModalRequest> asked;
};

TEST(Startup, WithoutSettingsTheDefaultsReachThePortAndStartupCompletes) {
  Program program;
  Answerer none(ModalAnswer::Action);
  program.Start();
  auto app = program.app();
  EXPECT_EQ(app->pref_port, "");
  EXPECT_EQ(std::vector<int>({app->pref_baud, app->pref_parity, app->pref_stop, app->pref_bits}),
            std::vector<int>({4, 0, 0, 3}));
  auto port = app->myPort;
  EXPECT_TRUE(port->CTS() && port->DTR() && port->XON());
  EXPECT_EQ(std::vector<int>({port->Baud(), port->Parity(), port->Stop(), port->Bits()}),
            std::vector<int>({4, 0, 0, 3}));
  EXPECT_TRUE(std::filesystem::is_directory(program.callsDir()));
  EXPECT_TRUE(none.asked.empty());
  EXPECT_EQ(Window1()->Height(), 30);
  EXPECT_TRUE(Window1()->IsShown());
  EXPECT_EQ(app->regularTimer->Period(), 500);
  EXPECT_NEAR(app->timeout->TotalSeconds(), fw::Date().TotalSeconds() + 10.0, 1.0);
  EXPECT_EQ(program.Status(), "Unable to open serial port");
  auto wheel = fw::RuntimeCheckCast<fw::ProgressWheel>(fw::RuntimeWindowControlByName(Window1(), "serialOpen"));
  EXPECT_FALSE(wheel->Visible());
  EXPECT_EQ(::App(), app) << "the accessor must yield the registered object";
}

TEST(Startup, StoredLineSettingsReachTheSerialObject) {
  Program program;
  program.WritePrefs("bits\t1\nstop\t2\nparity\t2\nbaud\t8\nport\t/dev/nothing-here\n");
  program.Start();
  auto port = program.app()->myPort;
  EXPECT_EQ(std::vector<int>({port->Baud(), port->Parity(), port->Stop(), port->Bits()}),
            std::vector<int>({8, 2, 2, 1}));
  EXPECT_EQ(program.app()->pref_port, "/dev/nothing-here");
}

TEST(Startup, UnreadableSettingsFileLeavesDefaultsAndStartupGoesOn) {
  Program program;
  std::filesystem::create_directory(program.prefsFile());
  program.Start();
  EXPECT_EQ(program.app()->pref_baud, 4);
  ASSERT_TRUE(program.app()->regularTimer);
  EXPECT_TRUE(Window1()->IsShown());
}

TEST(Startup, PlainFileNamedCallsIsLeftAloneWithoutMessage) {
  Program program;
  tptest::WriteFile(program.callsDir(), "not a folder");
  Answerer answer(ModalAnswer::Action);
  program.Start();
  EXPECT_TRUE(answer.asked.empty());
  EXPECT_EQ(tptest::ReadFile(program.callsDir()), "not a folder");
}

TEST(Startup, UncreatableCallsFolderIsReportedOnceAndStartupGoesOn) {
  Program program;
  // A startup volume below a plain file: no folder can be made there, even as root.
  tptest::WriteFile(program.dir / "file", "");
  setenv("TALLYPOINT_STARTUP_VOLUME", (program.dir / "file").c_str(), 1);
  Answerer answer(ModalAnswer::Action);
  program.Start();
  ASSERT_EQ(answer.asked.size(), 1u);
  EXPECT_EQ(answer.asked[0].kind, "MsgBox");
  EXPECT_EQ(answer.asked[0].message, "Unable to make calls folder on startup disk - See Sys Admin");
  EXPECT_TRUE(Window1()->IsShown());
  ASSERT_TRUE(program.app()->regularTimer);
  EXPECT_EQ(program.Status(), "Unable to open serial port");
}

TEST(Startup, PrefsMenuShowsTheOneDialog) {
  Program program;
  program.Start();
  program.app()->HandleMenuItem("Prefs");
  auto first = prefsWindow();
  EXPECT_TRUE(first->IsShown());
  program.app()->HandleMenuItem("Prefs");
  EXPECT_EQ(prefsWindow(), first);
  EXPECT_FALSE(program.app()->_Prefs_Action());
}

class Quit : public ::testing::Test {
 protected:
  void SetUp() override { program.Start(); }
  bool prefsExist() { return std::filesystem::exists(program.prefsFile()); }
  Program program;
};

TEST_F(Quit, CancelKeepsRunningAndWritesNothing) {
  program.app()->input.Append("waiting\r");
  Answerer answer(ModalAnswer::Cancel);
  EXPECT_TRUE(program.app()->CancelClose.Raise());
  ASSERT_EQ(answer.asked.size(), 1u);
  const ModalRequest& r = answer.asked[0];
  EXPECT_EQ(r.kind, "MessageDialog");
  EXPECT_EQ(r.message, "Are you sure you wish to quit?");
  EXPECT_EQ(r.explanation, "Any calls made while this program is not running, will not be logged or billed");
  ASSERT_EQ(r.captions.size(), 2u) << "the alternate button must stay hidden";
  EXPECT_EQ(r.captions[0], "Quit");
  EXPECT_FALSE(prefsExist());
  EXPECT_TRUE(program.CallFiles().empty());
  EXPECT_EQ(program.app()->buffer(), "waiting\r");
}

TEST_F(Quit, ConfirmationWritesTheSettingsFileExactly) {
  {
    Answerer cancel(ModalAnswer::Cancel);
    program.app()->CancelClose.Raise();
  }
  Answerer confirm(ModalAnswer::Action);
  EXPECT_FALSE(program.app()->CancelClose.Raise());
  EXPECT_EQ(tptest::ReadFile(program.prefsFile()), DefaultPrefs);
}

TEST_F(Quit, ConfirmationWritesEveryWaitingRecordAfterTheSettings) {
  program.app()->input.Append("a\rb\r\r c\rtail");
  Answerer confirm(ModalAnswer::Action);
  EXPECT_FALSE(program.app()->CancelClose.Raise());
  EXPECT_TRUE(prefsExist());
  EXPECT_EQ(program.CallContents(), (std::vector<std::string>{"a", "b", " c", "tail"}));
  EXPECT_EQ(program.app()->buffer(), "");
}

TEST_F(Quit, TerminationSignalWritesEveryWaitingRecordWithoutSettings) {
  program.app()->input.Append("x\ry\r");
  program.app()->Terminating.Raise();
  EXPECT_EQ(program.CallContents(), (std::vector<std::string>{"x", "y"}));
  EXPECT_FALSE(prefsExist());
  program.app()->Terminating.Raise();
  EXPECT_EQ(program.CallFiles().size(), 2u) << "a second end wrote records twice";
}

TEST_F(Quit, EndOfRunWithUnwritableFolderReportsEachRecordAndKeepsThem) {
  std::filesystem::remove_all(program.callsDir());
  program.app()->input.Append("a\rb\rc");
  int before = fw::UnhandledExceptionCount();
  program.app()->Terminating.Raise();
  EXPECT_EQ(fw::UnhandledExceptionCount(), before + 3) << "stopped at the first failure";
  EXPECT_EQ(program.app()->buffer(), "a\rb\rc");
}

TEST_F(Quit, UnwritableSettingsFileStillWritesTheRecords) {
  std::filesystem::create_directory(program.prefsFile());  // a folder where the file goes
  program.app()->input.Append("kept\r");
  Answerer confirm(ModalAnswer::Action);
  int before = fw::UnhandledExceptionCount();
  EXPECT_FALSE(program.app()->CancelClose.Raise());
  EXPECT_GT(fw::UnhandledExceptionCount(), before);
  EXPECT_EQ(program.CallContents(), std::vector<std::string>{"kept"});
}

}  // namespace
