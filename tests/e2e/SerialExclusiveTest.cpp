// Copies of the program started on one serial line: only the first reads it.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace tptest
