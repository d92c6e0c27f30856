// The real program taking call records over TCP port 23, run in a network
// namespace of its own so that port 23 is free and the host is not touched.
#include <gtest/gtest.h>
#include <pwd.h>

#include "support/CallFolder.h"
#include "support/ChildProcess.h"
#include "support/ChildProgram.h"
#include "support/NetNamespace.h"
#include "support/Pty.h"
#include "support/SettingsFile.h"
#include "support/TcpClient.h"
#include "support/TestEnvironment.h"
#include "support/WaitFor.h"

namespace tptest {
namespace {

constexpr int kPort = 23;

class TcpCapture : public ::testing::Test {
 protected:
  void SetUp() override {
    net = std::make_unique<NetNamespace>();
    if (!net->ok()) GTEST_SKIP() << "needs a network namespace of its own (run as root): " << net->why();
    program = std::make_unique<ChildProgram>();
    program->Start({});
    ASSERT_TRUE(WaitFor([] { return TcpListening(kPort); }, 15s))
        << "nothing listens on port 23" << program->Diagnostics();
  }
  void TearDown() override {
    program.reset();  // the program goes before the namespace it runs in
    net.reset();
  }

  // Sends, then pauses long enough for the program to take it as a delivery of its own.
  static void Deliver(TcpClient& c, const std::string& text) {
    c.Send(text);
    std::this_thread::sleep_for(200ms);
  }

  bool WaitForRecord(const std::string& record, std::chrono::milliseconds timeout) {
    return WaitFor([&] {
      auto c = Contents(ReadCalls(program->calls));
      return std::find(c.begin(), c.end(), record) != c.end();
    }, timeout);
  }

  std::unique_ptr<NetNamespace> net;
  std::unique_ptr<ChildProgram> program;
};

TEST_F(TcpCapture, TwoClientsAtOnceKeepTheirRecordsApart) {
  TcpClient a(kPort), b(kPort);
  Deliver(a, "A-1 first half, ");
  Deliver(b, "B-1 whole\r\n");
  Deliver(a, "A-1 second half\r\n");
  Deliver(b, "B-2\n");
  Deliver(a, "A-2\r");
  // Each connection assembles its own lines: B's record, whole first, does not
  // land between A's halves.
  const std::vector<std::string> expected = {"B-1 whole", "A-1 first half, A-1 second half", "B-2", "A-2"};
  ASSERT_TRUE(program->WaitForCalls(expected.size(), 10s)) << program->Diagnostics();
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(Contents(ReadCalls(program->calls)), expected) << program->Diagnostics();
}

TEST_F(TcpCapture, ThirdConnectionWaitsForAFreeSlotAndKeepsItsData) {
  TcpClient a(kPort), b(kPort);
  Deliver(a, "A-held\r\n");
  Deliver(b, "B-held\r\n");
  ASSERT_TRUE(program->WaitForCalls(2, 10s)) << "two clients were not both served" << program->Diagnostics();

  TcpClient c(kPort);  // the kernel completes the handshake; the program must not take it yet
  Deliver(c, "C-waited\r\n");
  EXPECT_FALSE(WaitForRecord("C-waited", 2500ms)) << "a third connection was served while two were connected";

  a.Close();
  ASSERT_TRUE(WaitForRecord("C-waited", 10s))
      << "the waiting connection was not served, or its data was lost, once a slot freed" << program->Diagnostics();
  Deliver(b, "B-after\r\n");
  Deliver(c, "C-after\r\n");
  ASSERT_TRUE(program->WaitForCalls(5, 10s)) << program->Diagnostics();
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(Contents(ReadCalls(program->calls)),
            (std::vector<std::string>{"A-held", "B-held", "C-waited", "B-after", "C-after"}))
      << program->Diagnostics();
}

TEST_F(TcpCapture, SendersThatCloseRightAfterSendingLoseNothing) {
  // A sender that connects, writes its record and hangs up at once, several
  // in a row: more than two connections come and go within one tick.
  std::vector<std::string> expected;
  for (int i = 1; i <= 5; ++i) {
    expected.push_back("hang-up " + std::to_string(i));
    TcpClient c(kPort);
    c.Send(expected.back() + "\r\n");
  }
  ASSERT_TRUE(program->WaitForCalls(expected.size(), 10s))
      << "only " << CountCalls(program->calls) << " of 5 records kept" << program->Diagnostics();
  std::this_thread::sleep_for(1500ms);
  auto got = Contents(ReadCalls(program->calls));
  std::sort(got.begin(), got.end());  // connections may be taken in any order
  EXPECT_EQ(got, expected);
}

// Port 23 as a desktop user gets it: not at all, or through the capability
// that the install step grants the binary. The program runs as "nobody".
class PortRights : public ::testing::Test {
 protected:
  void SetUp() override {
    net = std::make_unique<NetNamespace>();
    if (!net->ok()) GTEST_SKIP() << "needs a network namespace of its own (run as root): " << net->why();
    const passwd* nobody = getpwnam("nobody");
    if (!nobody) GTEST_SKIP() << "no user \"nobody\" to run the program as";
    uid = nobody->pw_uid;
    gid = nobody->pw_gid;
    fs::permissions(program.root.path(), fs::perms(0755));
    for (const auto& dir : {program.volume, program.preferences})
      ASSERT_EQ(chown(dir.c_str(), uid, gid), 0);
    ASSERT_EQ(chown(pty.slavePath().c_str(), uid, gid), 0);
    options.prefs = LineSettings{pty.slavePath(), 8, 0, 0, 3};
    options.serialPorts = pty.slavePath();
    options.uid = uid;
    options.gid = gid;
  }
  void TearDown() override {
    program.process.Kill();
    net.reset();
  }

  std::unique_ptr<NetNamespace> net;
  uid_t uid = 0;
  gid_t gid = 0;
  Pty pty{Pty::Line::LeftToTheOpener};
  ChildProgram program;
  ChildProgram::Options options;
};

TEST_F(PortRights, WithoutTheRightToPort23SerialCaptureGoesOn) {
  program.Start(options);
  ASSERT_TRUE(WaitFor([&] { return pty.Raw(); }, 15s)) << "the serial port was not opened" << program.Diagnostics();
  pty.Write("serial while TCP is refused\r\n");
  ASSERT_TRUE(program.WaitForCalls(1, 10s)) << program.Diagnostics();
  EXPECT_EQ(Contents(ReadCalls(program.calls)), std::vector<std::string>{"serial while TCP is refused"});
  EXPECT_FALSE(TcpListening(kPort));
  EXPECT_TRUE(program.process.Running());
}

TEST_F(PortRights, BindCapabilityFromTheInstallStepLetsAUserListenOnPort23) {
  const std::string setcap = FindOnPath("setcap").empty() ? "/usr/sbin/setcap" : FindOnPath("setcap");
  if (!IsExecutable(setcap)) GTEST_SKIP() << "needs setcap (Debian package libcap2-bin)";
  // A copy of the binary, so that the one other tests run keeps no capability.
  tptest::TempDir bin;
  fs::permissions(bin.path(), fs::perms(0755));
  const std::string copy = bin / "tallypoint";
  fs::copy_file(TALLYPOINT_BINARY, copy);
  fs::permissions(copy, fs::perms(0755));
  auto r = RunCommand({setcap, "cap_net_bind_service=+ep", copy}, {});
  if (r.status != 0) GTEST_SKIP() << "setcap did not work on " << copy << " (file system without capabilities?)";

  options.binary = copy;
  program.Start(options);
  ASSERT_TRUE(WaitFor([] { return TcpListening(kPort); }, 15s))
      << "the capability did not let the program listen on port 23" << program.Diagnostics();
  TcpClient c(kPort);
  c.Send("over TCP as a user\r\n");
  ASSERT_TRUE(program.WaitForCalls(1, 10s)) << program.Diagnostics();
  EXPECT_EQ(Contents(ReadCalls(program.calls)), std::vector<std::string>{"over TCP as a user"});
}

}  // namespace
}  // namespace tptest
