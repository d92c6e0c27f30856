// The end of a run with records waiting: every one of them becomes a call
// file exactly once, also with a second copy of the program flushing into
// the same "Calls" folder at the same moment, and no file carries a call
// file's name before its bytes are durable, also when the sync fails.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

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

}  // namespace
