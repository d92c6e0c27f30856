// Faults around the running program, each with nothing lost: a TCP peer that
// resets, "Calls" turned read-only and back, a full disk, a restart within
// the same second as the last call file, and a kill without warning.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <iostream>
#include <set>

#include "support/CallFolder.h"
#include "support/ChildProgram.h"
#include "support/NetNamespace.h"
#include "support/Pty.h"
#include "support/Records.h"
#include "support/SmallTmpfs.h"
#include "support/TcpClient.h"
#include "support/TestEnvironment.h"
#include "support/WaitFor.h"

// Port 23 and a tmpfs of our own; made before any thread exists.
static const tptest::Namespaces kNs = tptest::EnterPrivateNamespaces(true, true);

namespace {

using namespace std::chrono_literals;

using Rig = tptest::ProgramOnPty;

std::string Lines(const std::vector<std::string>& records) {
  std::string s;
  for (auto& r : records) s += r + "\r\n";
  return s;
}

// What is left in Calls besides call files, once the last one has settled:
// a file's lock goes a moment after the file takes its name.
std::vector<std::string> StraysAfterwards(const std::string& calls) {
  std::vector<std::string> strays;
  tptest::WaitFor([&] { return (strays = tptest::ReadCallFolder(calls).strays).empty(); }, 2000ms);
  return strays;
}

TEST(Faults, TcpPeerResettingLosesNothingItDelivered) {
  if (!kNs.net) GTEST_SKIP() << "needs port 23 in a network namespace of its own: " << kNs.netWhy;
  Rig rig;
  ASSERT_TRUE(rig.Start(true)) << rig.Log();
  tptest::TcpClient a;
  ASSERT_TRUE(a.Connect(23));
  ASSERT_TRUE(a.Send(Lines({"reset one", "reset two", "reset three"}) + "cut short by a reset"));
  ASSERT_TRUE(a.WaitAcked(3000ms)) << "the program's end never took the bytes";
  a.Reset();
  // The unfinished line ends with its connection, then the listener still serves.
  ASSERT_TRUE(rig.WaitFiles(4, 20000ms)) << rig.Log();
  tptest::TcpClient b;
  ASSERT_TRUE(b.Connect(23));
  ASSERT_TRUE(b.Send(Lines({"after the reset"})));
  ASSERT_TRUE(rig.WaitFiles(5, 10000ms)) << rig.Log();
  EXPECT_EQ(rig.Contents(), (std::vector<std::string>{"reset one", "reset two", "reset three", "cut short by a reset",
                                                      "after the reset"}));
  EXPECT_TRUE(rig.prog->Alive());
}

// Sets or clears the immutable flag, which binds root as well.
bool SetImmutable(const std::string& path, bool on, std::string& why) {
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    why = strerror(errno);
    return false;
  }
  int flags = 0;
  bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (ok) {
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  if (!ok) why = std::string("FS_IOC_SETFLAGS: ") + strerror(errno);
  close(fd);
  return ok;
}

TEST(Faults, CallsReadOnlyForAWhileLosesNothing) {
  Rig rig;
  ASSERT_TRUE(rig.Start()) << rig.Log();
  ASSERT_TRUE(rig.pty.Write(Lines({"before one", "before two"})));
  ASSERT_TRUE(rig.WaitFiles(2, 10000ms)) << rig.Log();

  std::string why;
  if (geteuid() == 0) {
    if (!SetImmutable(rig.calls(), true, why)) GTEST_SKIP() << "cannot make Calls immutable here: " << why;
  } else {
    ASSERT_EQ(chmod(rig.calls().c_str(), 0555), 0);
  }
  ASSERT_TRUE(rig.pty.Write(Lines({"while locked one", "while locked two", "while locked three"})));
  std::this_thread::sleep_for(3000ms);  // six ticks that cannot write
  const tptest::CallFolder locked = tptest::ReadCallFolder(rig.calls());
  if (geteuid() == 0) ASSERT_TRUE(SetImmutable(rig.calls(), false, why)) << why;
  else ASSERT_EQ(chmod(rig.calls().c_str(), 0755), 0);
  EXPECT_EQ(locked.files.size(), 2u);

  ASSERT_TRUE(rig.WaitFiles(5, 15000ms)) << rig.Log();
  EXPECT_EQ(rig.Contents(), (std::vector<std::string>{"before one", "before two", "while locked one",
                                                      "while locked two", "while locked three"}));
  EXPECT_EQ(StraysAfterwards(rig.calls()), std::vector<std::string>{});
  EXPECT_TRUE(rig.prog->Alive()) << rig.Log();
}

TEST(Faults, FullDiskLosesNothingAndLeavesNoTornFile) {
  if (!kNs.mount) GTEST_SKIP() << "needs a private mount namespace for a small tmpfs: " << kNs.mountWhy;
  Rig rig;
  tptest::SmallTmpfs disk(rig.o.volume);
  ASSERT_TRUE(disk.mounted()) << strerror(disk.error());

  ASSERT_TRUE(rig.Start()) << rig.Log();
  ASSERT_TRUE(rig.pty.Write(Lines({"room enough"})));
  ASSERT_TRUE(rig.WaitFiles(1, 10000ms)) << rig.Log();

  const std::string filler = rig.o.volume + "/filler";
  ASSERT_TRUE(disk.FillUp(filler));
  ASSERT_TRUE(rig.pty.Write(Lines({"disk full one", "disk full two", "disk full three"})));
  std::this_thread::sleep_for(3000ms);
  const tptest::CallFolder full = tptest::ReadCallFolder(rig.calls());
  EXPECT_EQ(full.files.size(), 1u) << "the disk was not full after all";
  for (auto& f : full.files)
    EXPECT_TRUE(f.content == "room enough" || f.content.rfind("disk full", 0) == 0)
        << "torn call file while the disk was full: " << f.name << " = " << tptest::Printable(f.content);
  ASSERT_EQ(unlink(filler.c_str()), 0);

  ASSERT_TRUE(rig.WaitFiles(4, 15000ms)) << rig.Log();
  EXPECT_EQ(rig.Contents(), (std::vector<std::string>{"room enough", "disk full one", "disk full two",
                                                      "disk full three"}));
  EXPECT_EQ(StraysAfterwards(rig.calls()), std::vector<std::string>{});
  EXPECT_TRUE(rig.prog->Alive()) << rig.Log();
}

TEST(Faults, RestartWithinTheSameSecondReplacesNoFile) {
  Rig rig;
  // Call files of an earlier run, named for every second that this run may
  // write in, with the counters it starts from.
  tptest::fs::create_directories(rig.calls());
  std::map<std::string, std::string> earlier;
  const time_t now = time(nullptr);
  for (time_t t = now - 1; t <= now + 15; ++t)
    for (int c = 0; c < 2; ++c) {
      std::string name = tptest::StampAt(t) + std::to_string(c) + ".txt";
      earlier[name] = "earlier run " + name;
      ASSERT_TRUE(tptest::WriteFile(rig.calls() + "/" + name, earlier[name]));
    }
  ASSERT_TRUE(rig.Start()) << rig.Log();
  ASSERT_TRUE(rig.pty.Write(Lines({"this run one", "this run two"})));
  ASSERT_TRUE(rig.WaitFiles(earlier.size() + 2, 10000ms)) << rig.Log();

  std::multiset<std::string> fresh;
  for (auto& f : tptest::ReadCallFolder(rig.calls()).files) {
    auto it = earlier.find(f.name);
    if (it == earlier.end()) fresh.insert(f.content);
    else EXPECT_EQ(f.content, it->second) << "replaced: " << f.name;
  }
  EXPECT_EQ(fresh, (std::multiset<std::string>{"this run one", "this run two"}));

  // A real restart as fast as it goes: stop, start, next record.
  ASSERT_TRUE(rig.pty.Write(Lines({"last of the run"})));
  ASSERT_TRUE(rig.WaitFiles(earlier.size() + 3, 10000ms));
  rig.prog->Stop(SIGTERM, 5000ms);
  ASSERT_TRUE(rig.Start()) << rig.Log();
  ASSERT_TRUE(rig.pty.Write(Lines({"first of the next run"})));
  ASSERT_TRUE(rig.WaitFiles(earlier.size() + 4, 10000ms)) << rig.Log();
  fresh.clear();
  std::string lastStamp, firstStamp;
  for (auto& f : tptest::ReadCallFolder(rig.calls()).files) {
    if (earlier.count(f.name)) continue;
    fresh.insert(f.content);
    if (f.content == "last of the run") lastStamp = f.stamp;
    if (f.content == "first of the next run") firstStamp = f.stamp;
  }
  EXPECT_EQ(fresh, (std::multiset<std::string>{"this run one", "this run two", "last of the run",
                                               "first of the next run"}));
  std::cout << "real restart: the next run's first file was written "
            << (lastStamp == firstStamp ? "in the same second" : "in a later second") << " as the last run's last\n";
}

TEST(Faults, KillWithoutWarningLosesOnlyTheBufferAndTearsNoFile) {
  Rig rig;
  ASSERT_TRUE(rig.Start()) << rig.Log();
  std::vector<std::string> records;
  for (int i = 0; i < 12; ++i) records.push_back("killed run record " + std::to_string(i));
  ASSERT_TRUE(rig.pty.Write(Lines(records)));
  ASSERT_TRUE(rig.WaitFiles(3, 10000ms)) << rig.Log();
  rig.prog->Stop(SIGKILL, 3000ms);

  const tptest::CallFolder got = tptest::ReadCallFolder(rig.calls());
  ASSERT_GE(got.files.size(), 3u);
  ASSERT_LE(got.files.size(), records.size());
  for (size_t i = 0; i < got.files.size(); ++i) EXPECT_EQ(got.files[i].content, records[i]) << got.files[i].name;
  for (auto& s : got.strays) EXPECT_FALSE(s.size() > 4 && s.compare(s.size() - 4, 4, ".txt") == 0) << "listed: " << s;
  std::cout << "killed after " << got.files.size() << " of " << records.size() << " records; " << got.strays.size()
            << " other item(s) left in Calls\n";
}

}  // namespace
