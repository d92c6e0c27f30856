// Records stay apart by source: the real program with a pseudo-terminal as
// its serial line and TCP connections on port 23, each input assembling its
// own lines.

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <set>

#include "capture/SourceLines.h"
#include "support/CallFolder.h"
#include "support/Files.h"
#include "support/ChildProgram.h"
#include "support/NetNamespace.h"
#include "support/Pty.h"
#include "support/SmallTmpfs.h"
#include "support/TcpClient.h"
#include "support/TestEnvironment.h"
#include "support/WaitFor.h"

// Port 23 and a tmpfs of our own; made before any thread exists.
static const tptest::Namespaces kNs = tptest::EnterPrivateNamespaces(true, true);

namespace {

using namespace std::chrono_literals;

struct Rig : tptest::ProgramOnPty {
  tptest::TcpClient tcp[2];

  bool Start() { return ProgramOnPty::Start(true) && tcp[0].Connect(23) && tcp[1].Connect(23); }
  bool Has(const std::string& record) const {
    auto c = Contents();
    return std::find(c.begin(), c.end(), record) != c.end();
  }
  // Sent as a delivery of its own: the program has read it before the next.
  void Serial(const std::string& s) {
    ASSERT_TRUE(pty.Write(s));
    ASSERT_TRUE(tptest::WaitFor([&] { return pty.Unread() == 0; }, 2000ms));
    std::this_thread::sleep_for(200ms);
  }
  void Tcp(int i, const std::string& s) {
    ASSERT_TRUE(tcp[i].Send(s));
    ASSERT_TRUE(tcp[i].WaitAcked(2000ms));
    std::this_thread::sleep_for(200ms);
  }
};

std::multiset<std::string> AsSet(const std::vector<std::string>& v) { return {v.begin(), v.end()}; }

// ---- a record takes in no other source's text

struct Piece {
  int source;  // -1 the serial line, 0 or 1 a TCP connection
  std::string text;
};
struct InterleaveRow {
  const char* name;
  std::vector<Piece> pieces;
  std::vector<std::string> records;
};
void PrintTo(const InterleaveRow& r, std::ostream* os) { *os << r.name; }

class Interleave : public ::testing::TestWithParam<InterleaveRow> {};

TEST_P(Interleave, RecordArrivingInPiecesTakesInNoOtherSourcesRecord) {
  if (!kNs.net) GTEST_SKIP() << "needs port 23 in a network namespace of its own: " << kNs.netWhy;
  Rig rig;
  ASSERT_TRUE(rig.Start()) << rig.Log();
  for (const Piece& p : GetParam().pieces) {
    if (p.source < 0) rig.Serial(p.text);
    else rig.Tcp(p.source, p.text);
  }
  ASSERT_TRUE(rig.WaitFiles(GetParam().records.size(), 10000ms)) << rig.Log();
  std::this_thread::sleep_for(1000ms);
  EXPECT_EQ(AsSet(rig.Contents()), AsSet(GetParam().records));
}

INSTANTIATE_TEST_SUITE_P(
    Sources, Interleave,
    ::testing::Values(InterleaveRow{"SerialAroundTcp",
                                    {{-1, "CALL-S part1 "}, {0, "CALL-T whole\r\n"}, {-1, "part2\r\n"}},
                                    {"CALL-S part1 part2", "CALL-T whole"}},
                      InterleaveRow{"TcpAroundSerial",
                                    {{0, "CALL-T part1 "}, {-1, "CALL-S whole\r\n"}, {0, "part2\r\n"}},
                                    {"CALL-T part1 part2", "CALL-S whole"}},
                      InterleaveRow{"SerialAroundBothConnections",
                                    {{-1, "CALL-S part1 "},
                                     {0, "CALL-A part1 "},
                                     {1, "CALL-B whole\r\n"},
                                     {0, "part2\r\n"},
                                     {-1, "part2\r\n"}},
                                    {"CALL-S part1 part2", "CALL-A part1 part2", "CALL-B whole"}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- an unfinished line ends by its own source alone

struct OwnDeadlineRow {
  const char* name;
  std::function<void(Rig&)> run;
};
void PrintTo(const OwnDeadlineRow& r, std::ostream* os) { *os << r.name; }

class OwnDeadline : public ::testing::TestWithParam<OwnDeadlineRow> {};

TEST_P(OwnDeadline, UnfinishedLineEndsByItsOwnSourceAlone) {
  if (!kNs.net) GTEST_SKIP() << "needs port 23 in a network namespace of its own: " << kNs.netWhy;
  Rig rig;
  ASSERT_TRUE(rig.Start()) << rig.Log();
  GetParam().run(rig);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, OwnDeadline,
    ::testing::Values(
        OwnDeadlineRow{"ConnectionResetMidRecordThenReconnects",
                       [](Rig& rig) {
                         rig.Tcp(0, "CALL-R1 cut short");
                         const auto reset = tptest::SteadyClock::now();
                         rig.tcp[0].Reset();
                         ASSERT_TRUE(rig.tcp[0].Connect(23));
                         rig.Tcp(0, "CALL-R2 whole\r\n");
                         ASSERT_TRUE(rig.WaitFiles(2, 15000ms)) << rig.Log();
                         EXPECT_EQ(AsSet(rig.Contents()), AsSet({"CALL-R1 cut short", "CALL-R2 whole"}));
                         // Ended by the reset, not by a deadline ten seconds on.
                         EXPECT_LT(tptest::SecondsSince(reset), 8.0);
                       }},
        OwnDeadlineRow{"AnotherSourceKeepsTalking", [](Rig& rig) {
                         rig.Serial("CALL-P waits alone");
                         const auto data = tptest::SteadyClock::now();
                         // A record every second for longer than the deadline.
                         double writtenAfter = -1;
                         for (int i = 0; i < 16; ++i) {
                           rig.Tcp(0, "CALL-K " + std::to_string(i) + "\r\n");
                           if (writtenAfter < 0 && rig.Has("CALL-P waits alone")) writtenAfter = tptest::SecondsSince(data);
                           std::this_thread::sleep_for(800ms);
                         }
                         ASSERT_GE(writtenAfter, 0) << "the line waited for as long as the other source talked";
                         EXPECT_GE(writtenAfter, 9.9) << "cut before its deadline";
                         EXPECT_LE(writtenAfter, 13.0);
                         ASSERT_TRUE(rig.WaitFiles(17, 10000ms)) << rig.Log();
                         std::vector<std::string> all = rig.Contents();
                         EXPECT_EQ(std::count(all.begin(), all.end(), "CALL-P waits alone"), 1);
                         for (const auto& c : all) EXPECT_TRUE(c.rfind("CALL-K ", 0) == 0 || c == "CALL-P waits alone") << c;
                       }}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- a line past its deadline stays a record of its own while it cannot be written

class DueWhileFull : public ::testing::TestWithParam<int> {};

TEST_P(DueWhileFull, LineDueWhileCallsIsFullIsNotGluedToTheNext) {
  if (!kNs.net) GTEST_SKIP() << "needs port 23 in a network namespace of its own: " << kNs.netWhy;
  if (!kNs.mount) GTEST_SKIP() << "needs a private mount namespace for a small tmpfs: " << kNs.mountWhy;
  Rig rig;
  tptest::SmallTmpfs disk(rig.o.volume);
  ASSERT_TRUE(disk.mounted()) << strerror(disk.error());
  ASSERT_TRUE(rig.Start()) << rig.Log();
  auto send = [&](const std::string& s) {
    if (GetParam() < 0) rig.Serial(s);
    else rig.Tcp(GetParam(), s);
  };
  send("room enough\r\n");
  ASSERT_TRUE(rig.WaitFiles(1, 10000ms)) << rig.Log();

  const std::string filler = rig.o.volume + "/filler";
  ASSERT_TRUE(disk.FillUp(filler));
  send("PARTIAL-DURING-FULL");
  std::this_thread::sleep_for(12000ms);  // its deadline passes; writing it fails
  send("AFTER-PARTIAL\r\n");
  ASSERT_EQ(tptest::ReadCallFolder(rig.calls()).files.size(), 1u) << "the disk was not full after all";
  ASSERT_EQ(unlink(filler.c_str()), 0);
  ASSERT_TRUE(rig.WaitFiles(3, 10000ms)) << rig.Log();
  std::this_thread::sleep_for(1000ms);
  EXPECT_EQ(rig.Contents(), (std::vector<std::string>{"room enough", "PARTIAL-DURING-FULL", "AFTER-PARTIAL"}));
}

INSTANTIATE_TEST_SUITE_P(Sources, DueWhileFull, ::testing::Values(-1, 0),
                         [](const auto& info) { return std::string(info.param < 0 ? "Serial" : "Tcp"); });

// ---- a line that never ends

char FloodByte(size_t i) { return static_cast<char>('!' + (i * 7 + i / 4099) % 90); }  // no CR, LF or NUL

TEST(LongLine, LineBeyondTheLimitIsWrittenInPiecesAsItArrivesAndOthersStayWhole) {
  if (!kNs.net) GTEST_SKIP() << "needs port 23 in a network namespace of its own: " << kNs.netWhy;
  constexpr size_t L = capture::kLongestLine;
  const size_t total = 2 * L + 100 * 1024;
  std::string flood(total, '\0');
  for (size_t i = 0; i < total; ++i) flood[i] = FloodByte(i);
  Rig rig;
  ASSERT_TRUE(rig.Start()) << rig.Log();

  ASSERT_TRUE(rig.tcp[0].Send(std::string_view(flood).substr(0, L + L / 2)));
  rig.Serial("CALL-S in the middle\r\n");
  ASSERT_TRUE(rig.tcp[0].Send(std::string_view(flood).substr(L + L / 2)));
  // Both pieces are written while the connection is open and its line unfinished.
  ASSERT_TRUE(tptest::WaitFor([&] {
    size_t pieces = 0;
    for (auto& f : tptest::ReadCallFolder(rig.calls()).files) pieces += f.content.size() == L;
    return pieces == 2;
  }, 30000ms, 200ms)) << rig.Log();
  ASSERT_TRUE(rig.WaitFiles(3, 10000ms)) << "the serial record never came: " << rig.Log();
  rig.tcp[0].Close();
  ASSERT_TRUE(rig.WaitFiles(4, 10000ms)) << rig.Log();
  std::this_thread::sleep_for(1000ms);

  std::string joined;
  std::vector<size_t> sizes;
  int serial = 0;
  for (auto& f : tptest::ReadCallFolder(rig.calls()).files) {
    if (f.content == "CALL-S in the middle") {
      ++serial;
      continue;
    }
    joined += f.content;
    sizes.push_back(f.content.size());
  }
  EXPECT_EQ(serial, 1);
  EXPECT_EQ(sizes, (std::vector<size_t>{L, L, total - 2 * L}));
  EXPECT_TRUE(joined == flood) << "the pieces are not the flood in order";
  const std::string log = rig.Log();
  size_t reports = 0;
  for (size_t at = log.find("without a line end"); at != std::string::npos; at = log.find("without a line end", at + 1))
    ++reports;
  EXPECT_EQ(reports, 1u) << log;
}


// Thousands of lines of one connection still wait when it sends a line past
// the limit: they go ahead of its first piece, all in one sync, or that one
// delivery syncs every file and its folder on its own and holds up every
// other input for seconds.
TEST(LongLine, LinesWaitingAheadOfALongLineAreWrittenWithOneSyncNotOneEach) {
  if (!kNs.net) GTEST_SKIP() << "needs port 23 in a network namespace of its own: " << kNs.netWhy;
  constexpr size_t L = capture::kLongestLine;
  constexpr int kWaiting = 5000;
  Rig rig;
  const std::string trace = rig.dir / "sync.trace";
  rig.o.env["LD_PRELOAD"] = TALLYPOINT_SYNC_TRACE;
  rig.o.env["TALLYPOINT_SYNC_TRACE"] = trace;
  // Under AddressSanitizer the tracer is preloaded ahead of its runtime.
  const char* asan = getenv("ASAN_OPTIONS");
  rig.o.env["ASAN_OPTIONS"] = std::string(asan ? asan : "") + (asan && *asan ? ":" : "") + "verify_asan_link_order=0";
  ASSERT_TRUE(rig.Start()) << rig.Log();

  std::vector<std::string> waiting;
  std::string backlog;
  for (int i = 0; i < kWaiting; ++i) {
    waiting.push_back("CALL-W " + std::to_string(i));
    backlog += waiting.back() + "\r\n";
  }
  rig.Tcp(0, backlog);
  const size_t before = tptest::ReadLines(trace).size();
  std::string flood(L + 4096, '\0');
  for (size_t i = 0; i < flood.size(); ++i) flood[i] = FloodByte(i);
  ASSERT_TRUE(rig.tcp[0].Send(flood));
  rig.Serial("CALL-S meanwhile\r\n");
  ASSERT_TRUE(rig.WaitFiles(kWaiting + 2, 60000ms)) << rig.Log();

  const std::vector<std::string> lines = tptest::ReadLines(trace);
  ASSERT_FALSE(lines.empty()) << "the tracer was not loaded";
  size_t alone = 0, together = 0;
  for (size_t i = before; i < lines.size(); ++i) {
    alone += lines[i].rfind("fsync file", 0) == 0;
    together += lines[i] == "syncfs 0";
  }
  // The piece is synced on its own, and a tick or two may write a record.
  EXPECT_LT(alone, 50u) << "the waiting lines were synced one by one";
  EXPECT_GE(together, 1u);
  std::multiset<std::string> got = AsSet(rig.Contents());
  for (const auto& w : waiting) EXPECT_EQ(got.count(w), 1u) << w;
  EXPECT_EQ(got.count("CALL-S meanwhile"), 1u);
  EXPECT_EQ(got.count(flood.substr(0, L)), 1u) << "the first piece is not the line's first bytes";
}

}  // namespace
