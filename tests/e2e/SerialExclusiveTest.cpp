// Copies of the program started on one serial line: only the first reads it,
// and only while it runs.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include "support/CallFolder.h"
#include "support/ChildProgram.h"
#include "support/InProcessProgram.h"
#include "support/LocalZone.h"
#include "support/ProcFigures.h"
#include "support/Pty.h"
#include "support/SettingsFile.h"
#include "support/WaitFor.h"

namespace tptest {
namespace {

bool HoldsOpen(pid_t pid, const std::string& path) {
  std::error_code ec;
  for (fs::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code ignored;
    if (fs::read_symlink(it->path(), ignored) == path) return true;
  }
  return false;
}

TEST(SerialExclusive, LaterCopiesOnTheSameLineAreRefusedAndTheFirstGetsEveryRecord) {
  LocalZone zone;
  Pty pty{Pty::Line::LeftToTheOpener};
  ChildProgram::Options o;
  o.prefs = LineSettings{pty.slavePath(), 8, 0, 0, 3};
  o.serialPorts = pty.slavePath();
  ChildProgram first;
  first.Start(o);
  ASSERT_TRUE(WaitFor([&] { return pty.Raw(); }, 15s)) << "the first copy never opened the line" << first.Diagnostics();

  // A second copy in this process, where its status line can be read.
  tptest::Program second;
  second.WritePrefs(PrefsText(*o.prefs));
  setenv("TALLYPOINT_SERIAL_PORTS", pty.slavePath().c_str(), 1);
  second.Start();
  unsetenv("TALLYPOINT_SERIAL_PORTS");
  EXPECT_EQ(second.Status(), "Unable to open serial port");

  // And the real program once more, as a second copy would be started.
  ChildProgram third;
  third.Start(o);
  ASSERT_TRUE(WaitFor([&] { return fs::exists(third.calls); }, 15s)) << third.Diagnostics();

  std::vector<std::string> expected;
  for (int i = 1; i <= 12; ++i) {
    char rec[32];
    std::snprintf(rec, sizeof rec, "excl-%02d 0155501%02d", i, i);
    expected.push_back(rec);
    pty.Write(std::string(rec) + "\r\n");
    tptest::RunUntil([] { return false; }, 40);  // the copy in this process keeps its loop turning
  }
  ASSERT_TRUE(first.WaitForCalls(expected.size(), 20s))
      << "the first copy wrote only " << CountCalls(first.calls) << " call files" << first.Diagnostics();
  EXPECT_EQ(Contents(ReadCalls(first.calls)), expected);
  EXPECT_TRUE(second.CallFiles().empty());
  EXPECT_EQ(CountCalls(third.calls), 0u) << third.Diagnostics();
  EXPECT_TRUE(third.process.Running()) << "a refused copy keeps running";
  EXPECT_FALSE(HoldsOpen(third.process.pid(), pty.slavePath())) << "the refused copy keeps the line open";
}


// A copy that is gone must never keep the line from the next one, however it
// ended; a copy still running keeps it. The next copy runs as an ordinary
// user, to whom a line left in exclusive mode by a dead holder stays closed
// while the pseudo-terminal's other side is held open, as a bridge holds it.
struct HandOverRow {
  const char* name;
  int endFirstWith;  // 0: the first copy keeps running
};

void PrintTo(const HandOverRow& row, std::ostream* os) { *os << row.name; }

class LineHandOver : public ::testing::TestWithParam<HandOverRow> {};

TEST_P(LineHandOver, ALineIsHeldOnlyByALiveCopy) {
  const HandOverRow& row = GetParam();
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to run the copies as the ordinary user \"nobody\"";
  const passwd* nobody = getpwnam("nobody");
  if (!nobody) GTEST_SKIP() << "no user \"nobody\" to run the copies as";
  LocalZone zone;
  Pty pty{Pty::Line::LeftToTheOpener};
  ASSERT_EQ(chown(pty.slavePath().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
  ChildProgram::Options o;
  o.prefs = LineSettings{pty.slavePath(), 8, 0, 0, 3};
  o.serialPorts = pty.slavePath();
  o.uid = nobody->pw_uid;
  o.gid = nobody->pw_gid;
  ChildProgram first, next;
  for (ChildProgram* p : {&first, &next}) {
    fs::permissions(p->root.path(), fs::perms(0755));
    for (const auto& dir : {p->volume, p->preferences}) ASSERT_EQ(chown(dir.c_str(), o.uid.value(), o.gid.value()), 0);
  }

  first.Start(o);
  ASSERT_TRUE(WaitFor([&] { return HoldsOpen(first.process.pid(), pty.slavePath()); }, 15s))
      << "the first copy never opened the line" << first.Diagnostics();
  const pid_t firstPid = first.process.pid();
  if (row.endFirstWith) {
    first.process.Signal(row.endFirstWith);
    ASSERT_TRUE(first.process.WaitExit(30s).has_value()) << "the first copy did not end";
  }

  next.Start(o);
  ASSERT_TRUE(WaitFor([&] { return fs::exists(next.calls); }, 15s)) << next.Diagnostics();
  const bool nextReads = row.endFirstWith != 0;
  ChildProgram& reader = nextReads ? next : first;
  ASSERT_TRUE(WaitFor([&] { return HoldsOpen(reader.process.pid(), pty.slavePath()); }, 15s))
      << (nextReads ? "the next copy cannot open a line whose holder is gone" : "the first copy lost its line")
      << reader.Diagnostics();
  pty.Write("handed over 0155501\r\n");
  ASSERT_TRUE(reader.WaitForCalls(1, 20s)) << reader.Diagnostics();
  EXPECT_EQ(Contents(ReadCalls(reader.calls)), std::vector<std::string>{"handed over 0155501"});
  if (!nextReads) {
    EXPECT_TRUE(first.process.Running());
    EXPECT_EQ(first.process.pid(), firstPid);
    EXPECT_EQ(CountCalls(next.calls), 0u) << "a second live copy read the line";
    EXPECT_FALSE(HoldsOpen(next.process.pid(), pty.slavePath())) << "the refused copy keeps the line open";
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, LineHandOver,
                         ::testing::Values(HandOverRow{"KilledWithoutWarning", SIGKILL},
                                           HandOverRow{"EndedBySigterm", SIGTERM},
                                           HandOverRow{"StillRunning", 0}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tptest
