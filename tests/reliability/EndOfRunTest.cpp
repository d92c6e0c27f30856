// The end of a run with records waiting: every one of them becomes a call
// file exactly once, also with a second copy of the program flushing into
// the same "Calls" folder at the same moment.

#include <gtest/gtest.h>

#include <algorithm>

#include "support/CallFolder.h"
#include "support/ChildProgram.h"
#include "support/NetNamespace.h"
#include "support/Pty.h"
#include "support/SettingsFile.h"
#include "support/TestEnvironment.h"
#include "support/WaitFor.h"

// Port 23 in a network namespace of our own; made before any thread exists.
static const tptest::Namespaces kNs = tptest::EnterPrivateNamespaces(true, false);

namespace {

using namespace std::chrono_literals;

struct Copy {
  Copy(const tptest::TempDir& dir, const std::string& name, const std::string& volume) {
    o = tptest::SerialProgramIn(dir, pty.slavePath());
    o.volume = volume;
    o.preferences = dir / (name + "-prefs");
    o.stdoutPath = o.stderrPath = dir / (name + ".log");
    o.modalLogPath = dir / (name + "-modal.log");
    tptest::WriteSettingsFile(o.preferences, pty.slavePath());
  }
  bool Start() {
    prog = std::make_unique<tptest::ChildProgram>(o);
    return prog->WaitStarted(15000ms, true, false);
  }
  tptest::Pty pty;
  tptest::ProgramOptions o;
  std::unique_ptr<tptest::ChildProgram> prog;
};

std::vector<std::string> Records(const std::string& tag, int n) {
  std::vector<std::string> v;
  for (int i = 0; i < n; ++i) {
    char b[64];
    std::snprintf(b, sizeof b, "%s %05d 0155501%04d 00:01:%02d", tag.c_str(), i, i % 10000, i % 60);
    v.push_back(b);
  }
  return v;
}

// Sends the records, waits until the program has read them all, then ends
// every copy with SIGTERM at the same moment.
void DeliverAndTerminate(std::vector<Copy*> copies, const std::vector<std::vector<std::string>>& records) {
  for (size_t c = 0; c < copies.size(); ++c) {
    std::string bytes;
    for (auto& r : records[c]) bytes += r + "\r\n";
    ASSERT_TRUE(copies[c]->pty.Write(bytes));
  }
  for (auto* c : copies)
    ASSERT_TRUE(tptest::WaitFor([&] { return c->pty.Unread() == 0; }, 30000ms)) << c->prog->Log();
  // At least one tick has run since, so everything read is in the buffer.
  ASSERT_TRUE(tptest::WaitFor([&] { return !tptest::ReadCallFolder(copies[0]->prog->callsDir(), false).files.empty(); },
                           10000ms));
  for (auto* c : copies) kill(c->prog->pid(), SIGTERM);
  for (auto* c : copies) {
    EXPECT_TRUE(tptest::WaitFor([&] { return !c->prog->Alive(); }, 120000ms, 10ms)) << "still running after SIGTERM";
    c->prog->Stop(SIGKILL, 5000ms);
  }
}

// Every record in exactly one call file, and nothing else in the folder.
void ExpectEachOnce(const std::string& calls, std::vector<std::string> expected) {
  auto folder = tptest::ReadCallFolder(calls);
  std::vector<std::string> got;
  for (auto& f : folder.files) got.push_back(f.content);
  std::sort(got.begin(), got.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_TRUE(folder.strays.empty()) << "left in Calls: " << folder.strays.front();
  ASSERT_EQ(got.size(), expected.size()) << "call files for " << expected.size() << " records";
  EXPECT_TRUE(got == expected) << "a record is missing or written twice";
}

TEST(EndOfRun, TwoCopiesFlushingIntoOneCallsFolderReplaceNothing) {
  tptest::TempDir dir;
  const std::string volume = dir / "volume";
  Copy a(dir, "a", volume), b(dir, "b", volume);
  ASSERT_TRUE(a.Start()) << a.prog->Log();
  ASSERT_TRUE(b.Start()) << b.prog->Log();
  auto ra = Records("copy-a", 300), rb = Records("copy-b", 300);
  ASSERT_NO_FATAL_FAILURE(DeliverAndTerminate({&a, &b}, {ra, rb}));
  ra.insert(ra.end(), rb.begin(), rb.end());
  ExpectEachOnce(volume + "/Calls", ra);
}

TEST(EndOfRun, SigtermWritesTwentyThousandWaitingRecordsEachOnce) {
  tptest::TempDir dir;
  Copy one(dir, "one", dir / "volume");
  ASSERT_TRUE(one.Start()) << one.prog->Log();
  auto records = Records("backlog", 20000);
  ASSERT_NO_FATAL_FAILURE(DeliverAndTerminate({&one}, {records}));
  ExpectEachOnce(one.o.volume + "/Calls", records);
}

}  // namespace
