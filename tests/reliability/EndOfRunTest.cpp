// The end of a run with records waiting: every one of them becomes a call
// file exactly once, also with a second copy of the program flushing into
// the same "Calls" folder at the same moment, and no file carries a call
// file's name before its bytes are durable, also when the sync fails. A copy
// killed in the middle of it leaves nothing hidden: the next start names
// what it had written. A folder that cannot be synced after a file took its
// name leaves each record in exactly one place.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <sstream>
#include <thread>

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

// A copy of the program whose "Calls" is at volume.
struct Copy : tptest::ProgramOnPty {
  explicit Copy(const std::string& volume) {
    o.volume = volume;
    tptest::fs::create_directories(volume);
  }
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
  Copy a(volume), b(volume);
  ASSERT_TRUE(a.Start()) << a.prog->Log();
  ASSERT_TRUE(b.Start()) << b.prog->Log();
  auto ra = Records("copy-a", 300), rb = Records("copy-b", 300);
  ASSERT_NO_FATAL_FAILURE(DeliverAndTerminate({&a, &b}, {ra, rb}));
  ra.insert(ra.end(), rb.begin(), rb.end());
  ExpectEachOnce(volume + "/Calls", ra);
}

TEST(EndOfRun, SigtermWritesTwentyThousandWaitingRecordsEachOnce) {
  tptest::TempDir dir;
  Copy one(dir / "volume");
  ASSERT_TRUE(one.Start()) << one.prog->Log();
  auto records = Records("backlog", 20000);
  ASSERT_NO_FATAL_FAILURE(DeliverAndTerminate({&one}, {records}));
  ExpectEachOnce(one.o.volume + "/Calls", records);
}


// The program with the sync tracer preloaded, and told which syncs fail.
class TracedCopy {
 public:
  TracedCopy(const tptest::TempDir& dir, const std::string& name, bool failSyncfs, const char* failFsyncOf)
      : copy(dir / "volume"), trace(dir / (name + ".trace")) {
    auto& env = copy.o.env;
    env["LD_PRELOAD"] = TALLYPOINT_SYNC_TRACE;
    env["TALLYPOINT_SYNC_TRACE"] = trace;
    if (failSyncfs) env["TALLYPOINT_FAIL_SYNCFS"] = "1";
    if (failFsyncOf) env["TALLYPOINT_FAIL_FSYNC_OF"] = failFsyncOf;
    // Under AddressSanitizer the tracer is preloaded ahead of its runtime.
    const char* asan = getenv("ASAN_OPTIONS");
    env["ASAN_OPTIONS"] = std::string(asan ? asan : "") + (asan && *asan ? ":" : "") + "verify_asan_link_order=0";
  }
  bool Start() { return copy.Start(); }
  std::vector<std::string> TraceLines() const { return tptest::ReadLines(trace); }

  Copy copy;
  const std::string trace;
};

// The records that the program reported lost, from its log (plain records
// need no unescaping).
std::vector<std::string> ReportedRecords(const std::string& log) {
  std::vector<std::string> out;
  std::stringstream in(log);
  for (std::string l; std::getline(in, l);) {
    size_t at = l.find("call record not written (");
    if (at == std::string::npos) continue;
    at = l.find("): ", at);
    if (at != std::string::npos) out.push_back(l.substr(at + 3));
  }
  std::sort(out.begin(), out.end());
  return out;
}

struct SyncRow {
  const char* name;
  bool failSyncfs;
  bool someFilesCannotSync;  // every 7th record, from the 4th, holds a marker whose fsync fails
};

void PrintTo(const SyncRow& row, std::ostream* os) { *os << row.name; }

class EndOfRunSync : public ::testing::TestWithParam<SyncRow> {};

// Each record ends in exactly one place, a call file or the lost-record
// report; no call file is removed again; and when the one batch sync works,
// the end of the run syncs no file on its own.
TEST_P(EndOfRunSync, NoCallFileIsNamedBeforeItsBytesAreDurable) {
  const SyncRow& row = GetParam();
  constexpr const char* kMarker = "unsyncable";
  tptest::TempDir dir;
  TracedCopy traced(dir, "traced", row.failSyncfs, row.someFilesCannotSync ? kMarker : nullptr);
  Copy& c = traced.copy;
  ASSERT_TRUE(traced.Start()) << c.prog->Log();
  std::vector<std::string> records = Records("traced", 200), kept, lost;
  for (size_t i = 0; i < records.size(); ++i) {
    if (row.someFilesCannotSync && i % 7 == 3) records[i] += std::string(" ") + kMarker;
    (i % 7 == 3 && row.someFilesCannotSync ? lost : kept).push_back(records[i]);
  }
  std::string bytes;
  for (auto& r : records) bytes += r + "\r\n";
  ASSERT_TRUE(c.pty.Write(bytes));
  ASSERT_TRUE(tptest::WaitFor([&] { return c.pty.Unread() == 0; }, 30000ms)) << c.prog->Log();
  ASSERT_TRUE(tptest::WaitFor([&] { return !tptest::ReadCallFolder(c.prog->callsDir(), false).files.empty(); }, 10000ms));
  const size_t tracedBefore = traced.TraceLines().size();
  kill(c.prog->pid(), SIGTERM);
  ASSERT_TRUE(tptest::WaitFor([&] { return !c.prog->Alive(); }, 120000ms, 10ms)) << "still running after SIGTERM";
  c.prog->Stop(SIGKILL, 5000ms);

  const std::vector<std::string> lines = traced.TraceLines();
  ASSERT_FALSE(lines.empty()) << "the tracer was not loaded";
  size_t ownSyncs = 0;
  std::vector<std::string> namedUnsynced, removed;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].find("UNSYNCED") != std::string::npos) namedUnsynced.push_back(lines[i]);
    if (lines[i].rfind("unlink " + c.o.volume + "/Calls/", 0) == 0) removed.push_back(lines[i]);
    if (i >= tracedBefore && lines[i].rfind("fsync file", 0) == 0) ++ownSyncs;
  }
  EXPECT_TRUE(namedUnsynced.empty()) << namedUnsynced.size() << " files named before their bytes were durable, first: "
                                     << namedUnsynced.front();
  EXPECT_TRUE(removed.empty()) << removed.size() << " call files removed again, first: " << removed.front();
  // At most the one a tick may have made just before the signal.
  if (!row.failSyncfs) {
    EXPECT_LE(ownSyncs, 1u) << "files synced one by one at the end of the run";
  }
  std::sort(lost.begin(), lost.end());
  EXPECT_EQ(ReportedRecords(c.prog->Log()), lost) << c.prog->Log();
  ExpectEachOnce(c.o.volume + "/Calls", kept);
}

INSTANTIATE_TEST_SUITE_P(Rows, EndOfRunSync,
                         ::testing::Values(SyncRow{"OneSyncBeforeAnyName", false, false},
                                           SyncRow{"FailedBatchSyncKeepsFilesThatSyncAlone", true, false},
                                           SyncRow{"FileThatCannotSyncIsReportedNotNamed", true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// What a folder holds: call files, and the hidden temporaries and lock
// files of copies that wrote into it.
struct Held {
  std::multiset<std::string> calls;       // contents
  std::multiset<std::string> whole;       // temporaries marked whole
  std::multiset<std::string> unfinished;  // temporaries never marked, not empty
  std::vector<std::string> hidden;        // every ".tp-" name
};

Held ReadHeld(const std::string& calls) {
  Held h;
  for (auto& f : tptest::ReadCallFolder(calls).files) h.calls.insert(f.content);
  for (auto& e : tptest::fs::directory_iterator(calls)) {
    const std::string name = e.path().filename().string();
    if (name.rfind(".tp-", 0) != 0) continue;
    h.hidden.push_back(name);
    struct stat st {};
    if (name.compare(name.size() - 4, 4, ".tmp") != 0 || stat(e.path().c_str(), &st) != 0 || st.st_size == 0)
      continue;
    ((st.st_mode & 07777) != 0 ? h.whole : h.unfinished).insert(tptest::ReadFile(e.path().string()));
  }
  std::sort(h.hidden.begin(), h.hidden.end());
  return h;
}

// The copy that ends in the middle of its flush: killed there, or stopped
// there while a second copy starts on the same folder, and then killed.
struct KillRow {
  const char* name;
  const char* call;   // where it ends (TALLYPOINT_END_AT)
  size_t unfinished;  // temporaries it was still writing
  bool secondCopy;
};

void PrintTo(const KillRow& row, std::ostream* os) { *os << row.name; }

class EndOfRunKilled : public ::testing::TestWithParam<KillRow> {};

// A record written whole to its temporary is a call file exactly once after
// the next start, never hidden, never twice; the one still being written is
// reported with its bytes; a copy that still runs keeps all of its own.
TEST_P(EndOfRunKilled, NextStartNamesEveryRecordWrittenWhole) {
  const KillRow& row = GetParam();
  tptest::TempDir dir;
  TracedCopy traced(dir, "first", false, nullptr);
  Copy& first = traced.copy;
  first.o.env["TALLYPOINT_END_AT"] = std::string(row.secondCopy ? "stop " : "kill ") + row.call;
  const std::string calls = first.o.volume + "/Calls";
  ASSERT_TRUE(traced.Start()) << first.prog->Log();
  const std::vector<std::string> records = Records("killed", 3000);
  std::string bytes;
  for (auto& r : records) bytes += r + "\r\n";
  ASSERT_TRUE(first.pty.Write(bytes));
  ASSERT_TRUE(tptest::WaitFor([&] { return first.pty.Unread() == 0; }, 30000ms)) << first.prog->Log();
  ASSERT_TRUE(tptest::WaitFor([&] { return !tptest::ReadCallFolder(calls, false).files.empty(); }, 10000ms));
  kill(first.prog->pid(), SIGTERM);

  std::set<std::string> sent(records.begin(), records.end());
  if (row.secondCopy) {
    const std::string stopped = std::string("stopped at ") + row.call;
    ASSERT_TRUE(tptest::WaitFor([&] {
      auto lines = traced.TraceLines();
      return std::find(lines.begin(), lines.end(), stopped) != lines.end();
    }, 60000ms)) << "the flush never reached its stop";
    const Held before = ReadHeld(calls);
    // In a PID namespace of its own where it can be had: there the first
    // copy's pid means nothing.
    Copy second(first.o.volume);
    if (geteuid() == 0 && access("/usr/bin/unshare", X_OK) == 0)
      second.o.launcher = {"/usr/bin/unshare", "--pid", "--fork", "--kill-child", "--"};
    second.prog = std::make_unique<tptest::ChildProgram>(second.o);
    // Its own record as a call file: it has started and finished what it found.
    const std::string own = "second copy, started while the first flushes";
    sent.insert(own);
    ASSERT_TRUE(second.pty.Write(own + "\r\n"));
    ASSERT_TRUE(tptest::WaitFor([&] { return ReadHeld(calls).calls.count(own) == 1; }, 20000ms))
        << second.prog->Log();
    const Held during = ReadHeld(calls);
    std::multiset<std::string> expected = before.calls;
    expected.insert(own);
    EXPECT_TRUE(during.calls == expected) << "the second copy named what the first was writing";
    EXPECT_EQ(during.hidden, before.hidden) << "the second copy touched the first's temporaries";
    EXPECT_TRUE(during.whole == before.whole);
    EXPECT_TRUE(ReportedRecords(second.prog->Log()).empty()) << second.prog->Log();
    kill(-second.prog->pid(), SIGTERM);  // its group: the launcher passes no signal on
    second.prog->Stop(SIGTERM, 10000ms);
    first.prog->Stop(SIGKILL, 5000ms);
  } else {
    auto status = first.prog->process.WaitExit(120000ms);
    ASSERT_TRUE(status && WIFSIGNALED(*status) && WTERMSIG(*status) == SIGKILL)
        << "the flush was not cut short: " << first.prog->Log();
  }

  const Held left = ReadHeld(calls);
  ASSERT_FALSE(left.whole.empty()) << "the killed copy left nothing to name";
  EXPECT_EQ(left.unfinished.size(), row.unfinished);
  Copy next(first.o.volume);
  ASSERT_TRUE(next.Start()) << next.prog->Log();
  const Held after = ReadHeld(calls);
  std::multiset<std::string> expected = left.calls;
  expected.insert(left.whole.begin(), left.whole.end());
  EXPECT_EQ(after.calls.size(), expected.size());
  EXPECT_TRUE(after.calls == expected) << "a record written whole is hidden, or named twice";
  EXPECT_TRUE(after.hidden.empty()) << "left in Calls: " << after.hidden.front();
  const std::vector<std::string> reported = ReportedRecords(next.prog->Log());
  EXPECT_EQ(reported, std::vector<std::string>(left.unfinished.begin(), left.unfinished.end())) << next.prog->Log();
  // Each record sent in one place at most: a call file or the report.
  std::multiset<std::string> everywhere = after.calls;
  everywhere.insert(reported.begin(), reported.end());
  for (auto& r : everywhere) {
    EXPECT_EQ(everywhere.count(r), 1u) << "twice: " << r;
    EXPECT_EQ(sent.count(r), 1u) << "never sent: " << r;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, EndOfRunKilled,
    ::testing::Values(KillRow{"RightAfterTheFirstTemporaries", "mark 10", 1, false},
                      KillRow{"MidWay", "mark 1500", 1, false},
                      KillRow{"DuringTheSync", "syncfs 1", 0, false},
                      KillRow{"WhileNaming", "named 1500", 0, false},
                      KillRow{"SecondCopyStartedMeanwhileTakesNothing", "syncfs 1", 0, true}),
    [](const auto& info) { return std::string(info.param.name); });

struct FolderSyncRow {
  const char* name;
  int records;
  bool atTicks;  // all written by ticks before SIGTERM; else most wait for the end of the run
};

void PrintTo(const FolderSyncRow& row, std::ostream* os) { *os << row.name; }

class FolderSyncFails : public ::testing::TestWithParam<FolderSyncRow> {};

// A file that took its name but whose folder could not be synced after stays
// and counts as written, on a tick as at the end of a run: its record leaves
// the buffer once, is never reported lost, and the failure is said.
TEST_P(FolderSyncFails, EachRecordIsInExactlyOnePlace) {
  const FolderSyncRow& row = GetParam();
  tptest::TempDir dir;
  TracedCopy traced(dir, "traced", false, nullptr);
  Copy& c = traced.copy;
  c.o.env["TALLYPOINT_FAIL_FSYNC_FOLDER"] = "1";
  const std::string calls = c.o.volume + "/Calls";
  ASSERT_TRUE(traced.Start()) << c.prog->Log();
  const std::vector<std::string> records = Records(row.name, row.records);
  std::string bytes;
  for (auto& r : records) bytes += r + "\r\n";
  ASSERT_TRUE(c.pty.Write(bytes));
  ASSERT_TRUE(tptest::WaitFor([&] { return c.pty.Unread() == 0; }, 30000ms)) << c.prog->Log();
  const size_t waitFor = row.atTicks ? records.size() : 1;
  ASSERT_TRUE(c.WaitFiles(waitFor, 20000ms)) << "call files removed again: " << c.prog->Log();
  if (row.atTicks) std::this_thread::sleep_for(1500ms);  // ticks that would write a record again
  kill(c.prog->pid(), SIGTERM);
  ASSERT_TRUE(tptest::WaitFor([&] { return !c.prog->Alive(); }, 120000ms, 10ms)) << "still running after SIGTERM";
  c.prog->Stop(SIGKILL, 5000ms);
  EXPECT_TRUE(ReportedRecords(c.prog->Log()).empty()) << c.prog->Log();
  EXPECT_NE(c.prog->Log().find("cannot sync folder " + calls), std::string::npos) << c.prog->Log();
  ExpectEachOnce(calls, records);
}

INSTANTIATE_TEST_SUITE_P(Rows, FolderSyncFails,
                         ::testing::Values(FolderSyncRow{"TickPath", 3, true}, FolderSyncRow{"BatchPath", 200, false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
