// The real program and its "Calls" folder at the root of the startup volume.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <thread>

#include "support/CallFolder.h"
#include "support/ChildProcess.h"
#include "support/ChildProgram.h"
#include "support/Pty.h"
#include "support/SettingsFile.h"
#include "support/TestEnvironment.h"
#include "support/WaitFor.h"

namespace tptest {
namespace {

const std::string kNoFolderMessage = "MsgBox\tUnable to make calls folder on startup disk - See Sys Admin";

TEST(CallsFolder, MissingFolderIsCreatedAtStartWithoutAMessage) {
  ChildProgram program;
  program.Start({});
  ASSERT_TRUE(WaitFor([&] { return fs::is_directory(program.calls); }, 15s))
      << "no Calls folder after start" << program.Diagnostics();
  std::this_thread::sleep_for(500ms);
  EXPECT_TRUE(program.ModalLines().empty()) << program.Diagnostics();
  EXPECT_TRUE(program.process.Running());
}

// The volume's root is not writable for the program: as root the program
// runs as "nobody" (root's permissions would let it write anyway).
class UnwritableVolume : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() == 0) {
      const passwd* nobody = getpwnam("nobody");
      if (!nobody) GTEST_SKIP() << "no user \"nobody\" to run the program as";
      options.uid = nobody->pw_uid;
      options.gid = nobody->pw_gid;
      // Readable for the program, writable only where it must write.
      fs::permissions(program.root.path(), fs::perms(0755));
      fs::permissions(program.volume, fs::perms(0755));
      fs::permissions(program.preferences, fs::perms(0755));
      tptest::WriteFile(program.modalLogPath, "");
      ASSERT_EQ(chown(program.modalLogPath.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
      ASSERT_EQ(chown(pty.slavePath().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    } else {
      fs::permissions(program.volume, fs::perms(0555));
    }
    options.prefs = LineSettings{pty.slavePath(), 8, 0, 0, 3};
    options.serialPorts = pty.slavePath();
  }

  // What an administrator does: make the folder, owned by the user who runs the program.
  void MakeCallsFolder() {
    fs::permissions(program.volume, fs::perms::owner_write, fs::perm_options::add);
    fs::create_directory(program.calls);
    if (options.uid) {
      ASSERT_EQ(chown(program.calls.c_str(), *options.uid, *options.gid), 0);
    }
  }

  Pty pty{Pty::Line::LeftToTheOpener};
  ChildProgram program;
  ChildProgram::Options options;
};

TEST_F(UnwritableVolume, RecordsWaitInTheBufferUntilCallsExistsAndNoneIsLost) {
  program.Start(options);
  ASSERT_TRUE(WaitFor([&] {
    auto lines = program.ModalLines();
    return std::find(lines.begin(), lines.end(), kNoFolderMessage) != lines.end();
  }, 15s)) << "no message about the missing folder" << program.Diagnostics();
  ASSERT_TRUE(WaitFor([&] { return pty.Raw(); }, 15s))
      << "start-up did not go on to open the serial port" << program.Diagnostics();

  const size_t stderrBefore = program.Stderr().size();
  pty.Write("held-01 5550100\r\nheld-02 5550101\r\n");
  // Several ticks try and fail to write them; the program keeps running and holds them.
  std::this_thread::sleep_for(2500ms);
  ASSERT_TRUE(program.process.Running()) << "the program died on the missing folder" << program.Diagnostics();
  EXPECT_FALSE(fs::exists(program.calls));
  EXPECT_GT(program.Stderr().size(), stderrBefore) << "the failed write was not reported on standard error";

  ASSERT_NO_FATAL_FAILURE(MakeCallsFolder());
  ASSERT_TRUE(program.WaitForCalls(2, 10s))
      << "the held records were not written once Calls existed" << program.Diagnostics();
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(Contents(ReadCalls(program.calls)), (std::vector<std::string>{"held-01 5550100", "held-02 5550101"}))
      << program.Diagnostics();

  auto lines = program.ModalLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), kNoFolderMessage), 1) << program.Diagnostics();
}


// An entry of "Calls" that lists as a file but fails every read (a bad
// sector, a lost network share). The rebuild after a call file meets it; the
// record must still leave the buffer, or each tick would bill it again.
TEST(CallsFolder, AnEntryThatCannotBeReadNeverMakesARecordBillTwice) {
  Pty pty{Pty::Line::LeftToTheOpener};
  ChildProgram program;
  fs::create_directories(program.calls);
  // Opened by the program, this is its own memory, whose first page reads as EIO.
  fs::create_symlink("/proc/self/mem", program.calls + "/unreadable.txt");
  ChildProgram::Options options;
  options.prefs = LineSettings{pty.slavePath(), 8, 0, 0, 3};
  options.serialPorts = pty.slavePath();
  program.Start(options);
  ASSERT_TRUE(WaitFor([&] { return pty.Raw(); }, 15s)) << "the serial port never opened" << program.Diagnostics();

  pty.Write("billed once 5550199\r\n");
  ASSERT_TRUE(program.WaitForCalls(1, 10s)) << program.Diagnostics();
  std::this_thread::sleep_for(2500ms);  // five more ticks
  EXPECT_EQ(Contents(ReadCalls(program.calls)), (std::vector<std::string>{"billed once 5550199"})) << program.Diagnostics();
  EXPECT_TRUE(program.process.Running());
  EXPECT_NE(program.Stderr().find("unreadable.txt"), std::string::npos) << "the unreadable entry was not reported";
}

// Under a process limit that leaves no room for the threads that read a
// large "Calls" at start-up, the program ended with "terminate called
// without an active exception". It reads on the threads it can start.
TEST(CallsFolder, StartUpUnderAProcessLimitThatStopsThreadsKeepsRunning) {
  const std::string prlimit = FindOnPath("prlimit");
  if (prlimit.empty()) GTEST_SKIP() << "no prlimit";
  ChildProgram program;
  fs::create_directories(program.calls);
  for (int i = 0; i < 1000; ++i)
    tptest::WriteFile(program.calls + "/2023010110" + std::to_string(1000 + i) + "0.txt", "call " + std::to_string(i));
  ChildProgram::Options options;
  // Root is not bound by the limit: an ordinary user of its own, so that no
  // other process counts against it.
  if (geteuid() == 0) {
    options.uid = options.gid = 47474;
    tptest::WriteFile(program.modalLogPath, "");
    for (const auto& e : fs::recursive_directory_iterator(program.root.path()))
      ASSERT_EQ(lchown(e.path().c_str(), 47474, 47474), 0) << e.path();
    ASSERT_EQ(chown(program.root.path().c_str(), 47474, 47474), 0);
  }
  options.launcher = {prlimit, "--nproc=3", "--"};
  program.Start(options);
  std::this_thread::sleep_for(3s);
  EXPECT_TRUE(program.process.Running()) << "the program ended" << program.Diagnostics();
  EXPECT_EQ(program.Stderr().find("terminate called"), std::string::npos) << program.Diagnostics();
}

}  // namespace
}  // namespace tptest
