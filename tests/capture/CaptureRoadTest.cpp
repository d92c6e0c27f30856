// A record's road from the serial line or a TCP connection into call files,
// through the real App, its timer and the framework's event loop.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <algorithm>
#include <cctype>

#include "capture/App.h"
#include "capture/CallFile.h"
#include "capture/Input.h"
#include "capture/SourceLines.h"
#include "capture/customPort.h"
#include "capture/secondTimer.h"
#include "framework/Date.h"
#include "framework/RectControl.h"
#include "framework/Runtime.h"
#include "framework/Testing.h"
#include "support/CallFolder.h"
#include "support/InProcessProgram.h"
#include "support/TcpClient.h"
#include "ui/Window1.h"

using tptest::Program;
using tptest::RunUntil;

namespace {

const std::string CR = "\r", LF = "\n";
const std::string NUL(1, '\0');

struct NormaliseRow {
  const char* fault;
  std::string in, out;
};
void PrintTo(const NormaliseRow& r, std::ostream* os) { *os << r.fault; }

class Normalise : public ::testing::TestWithParam<NormaliseRow> {};

TEST_P(Normalise, DeliveryLineEndsBecomeSingleCr) { EXPECT_EQ(capture::NormaliseInput(GetParam().in), GetParam().out); }

INSTANTIATE_TEST_SUITE_P(
    Rows, Normalise,
    ::testing::Values(NormaliseRow{"CrLfLeftAsTwoLineEnds", "a" + CR + LF + "b" + CR + LF, "a" + CR + "b" + CR},
                      NormaliseRow{"LoneLfNotTurnedIntoCr", "a" + LF + "b", "a" + CR + "b"},
                      NormaliseRow{"LfCrLeftAsTwoLineEnds", "a" + LF + CR + "b", "a" + CR + "b"},
                      NormaliseRow{"LfLfKeptAsEmptyLine", "a" + LF + LF + "b", "a" + CR + "b"},
                      NormaliseRow{"NulRemovedBeforeCrMerge", "a" + CR + NUL + CR + "b", "a" + CR + CR + "b"},
                      NormaliseRow{"CrNulLfMerged", "a" + CR + NUL + LF, "a" + CR + CR},
                      NormaliseRow{"NulInsideTextKept", "x" + NUL + "y" + NUL, "xy"},
                      NormaliseRow{"OtherBytesTouched", "\t\f\x1b\x80\xff", "\t\f\x1b\x80\xff"},
                      NormaliseRow{"NulOnlyDeliveryLeavesText", NUL + NUL, ""}),
    [](const auto& info) { return std::string(info.param.fault); });

// The serial road: a pseudo-terminal chosen in the settings file.
class SerialRoad : public ::testing::Test {
 protected:
  void SetUp() override {
    program.WritePrefs("port\t" + pty.slavePath() + "\n");
    program.Start();
    ASSERT_EQ(program.Status(), "Idle") << "the pseudo-terminal did not open";
    ASSERT_TRUE(fw::RuntimeCheckCast<fw::RectControl>(fw::RuntimeWindowControlByName(Window1(), "serialOpen"))->Visible());
    ASSERT_TRUE(program.app()->myPort->IsOpen());
  }
  bool BufferIs(const std::string& s) { return program.app()->buffer() == s; }

  tptest::ListedPty pty;
  Program program;
};

TEST_F(SerialRoad, RecordsInEveryLineEndFormBecomeOneFileEachInOrder) {
  std::string before = capture::CallFileStamp(fw::Date());
  pty.Write("first" + CR + LF + "second" + LF + "third" + CR + "fou");
  ASSERT_TRUE(RunUntil([&] { return program.app()->buffer().find("fou") != std::string::npos; }));
  pty.Write("rth" + LF + LF + "fifth" + LF + CR);
  ASSERT_TRUE(RunUntil([&] { return program.CallFiles().size() == 5; }, 8000));
  std::string after = capture::CallFileStamp(fw::Date());
  EXPECT_EQ(program.CallContents(), (std::vector<std::string>{"first", "second", "third", "fourth", "fifth"}));
  for (const auto& f : program.CallFiles()) {
    // The local time of writing, then the counter, then ".txt".
    std::string stamp = f.name.substr(0, 14), counter = f.name.substr(14, f.name.size() - 18);
    EXPECT_TRUE(stamp >= before && stamp <= after) << f.name;
    EXPECT_TRUE(f.name.ends_with(".txt") && !counter.empty() &&
                std::all_of(counter.begin(), counter.end(), [](unsigned char c) { return std::isdigit(c); }))
        << f.name;
  }
}

TEST_F(SerialRoad, DeliveryBoundaryCrThenLfLeavesCrCrAndNoEmptyFile) {
  pty.Write("abc" + CR);
  ASSERT_TRUE(RunUntil([&] { return BufferIs("abc" + CR); }, 400));
  pty.Write(LF + "def" + CR);
  ASSERT_TRUE(RunUntil([&] { return BufferIs("abc" + CR + CR + "def" + CR); }, 400));
  ASSERT_TRUE(RunUntil([&] { return program.CallFiles().size() == 2 && program.app()->buffer().empty(); }, 5000));
  EXPECT_EQ(program.CallContents(), (std::vector<std::string>{"abc", "def"}));
}

TEST_F(SerialRoad, LineSplitOverDeliveriesJoinsIntoOneRecord) {
  pty.Write("12:03 ext");
  ASSERT_TRUE(RunUntil([&] { return BufferIs("12:03 ext"); }, 400));
  pty.Write(" 204 0:42" + CR);
  ASSERT_TRUE(RunUntil([&] { return program.CallFiles().size() == 1; }));
  EXPECT_EQ(program.CallContents(), std::vector<std::string>{"12:03 ext 204 0:42"});
}

TEST_F(SerialRoad, OneFilePerTickWithStatusTrailingTheBuffer) {
  pty.Write("abc" + CR + "de" + CR);
  ASSERT_TRUE(RunUntil([&] { return program.CallFiles().size() == 1; }));
  // The tick showed the buffer as it found it, before it took its record.
  EXPECT_EQ(program.Status(), "Processing data (7)");
  EXPECT_EQ(program.BufferLine(), "abc" + CR + "de" + CR);
  EXPECT_EQ(program.CallFiles().size(), 1u) << "more than one record in one tick";
  ASSERT_TRUE(RunUntil([&] { return program.CallFiles().size() == 2; }));
  EXPECT_EQ(program.Status(), "Processing data (3)");
  ASSERT_TRUE(RunUntil([&] { return program.Status() == "Idle"; }));
  EXPECT_EQ(program.BufferLine(), "");
  EXPECT_EQ(program.app()->regularTimer->Mode(), 0) << "an idle tick re-armed the timer";
  EXPECT_EQ(program.CallContents(), (std::vector<std::string>{"abc", "de"}));
}

TEST_F(SerialRoad, EmptyLinesCostATickButMakeNoFile) {
  pty.Write(CR + CR + "x" + CR);
  ASSERT_TRUE(RunUntil([&] { return !program.CallFiles().empty(); }, 5000));
  ASSERT_TRUE(RunUntil([&] { return program.Status() == "Idle"; }));
  EXPECT_EQ(program.CallContents(), std::vector<std::string>{"x"});
}

TEST_F(SerialRoad, TextWithoutLineEndWaitsForTheDeadlineThenGoesWhole) {
  pty.Write("partial");
  ASSERT_TRUE(RunUntil([&] { return BufferIs("partial"); }, 400));
  auto timeout = program.app()->timeout;
  double now = fw::Date().TotalSeconds();
  EXPECT_NEAR(timeout->TotalSeconds(), now + 10.0, 1.0) << "a delivery did not move the deadline";

  // Bring the deadline close; ticks before it write nothing.
  timeout->TotalSeconds(now + 1.2);
  fw::testing::RunEventLoopFor(900);
  EXPECT_TRUE(program.CallFiles().empty()) << "written before the deadline";
  EXPECT_EQ(program.Status(), "Processing data (7)");

  // Another delivery moves it ten seconds out again.
  pty.Write(" more");
  ASSERT_TRUE(RunUntil([&] { return BufferIs("partial more"); }, 400));
  EXPECT_GT(timeout->TotalSeconds(), fw::Date().TotalSeconds() + 9.0);
  fw::testing::RunEventLoopFor(1200);
  EXPECT_TRUE(program.CallFiles().empty()) << "a delivery did not hold the deadline back";

  timeout->TotalSeconds(fw::Date().TotalSeconds() - 0.01);
  ASSERT_TRUE(RunUntil([&] { return program.CallFiles().size() == 1; }, 2000));
  EXPECT_EQ(program.CallContents(), std::vector<std::string>{"partial more"});
  EXPECT_TRUE(program.app()->buffer().empty());
}

// A flood taken from the buffer must not leave its storage behind, whether
// the record went whole at its deadline or up to its CR with a short rest.
TEST_F(SerialRoad, BufferEmptiedOfAFloodLetsItsStorageGo) {
  const std::string flood(8 * 1024 * 1024, 'f');
  const struct {
    std::string delivery, rest;
  } rows[] = {{flood, ""}, {flood + CR + "tail", "tail"}};
  for (const auto& r : rows) {
    const size_t files = program.CallFiles().size();
    capture::AppendDelivery(program.app()->myPort->line, r.delivery);
    program.app()->timeout->TotalSeconds(fw::Date().TotalSeconds() - 0.01);
    ASSERT_TRUE(RunUntil([&] { return program.CallFiles().size() == files + 1; }, 3000));
    EXPECT_EQ(program.app()->buffer(), r.rest);
    EXPECT_LT(program.app()->buffer().capacity(), 4096u) << "the emptied buffer keeps the flood's storage";
    program.app()->input.TakeAll();
  }
}

// A line longer than a call file may be is cut into pieces of exactly that
// length, in order, whether its line end comes in the same delivery or later.
struct LongLineRow {
  const char* name;
  std::vector<size_t> deliveries;  // the line's bytes in deliveries of these sizes, a CR after the last
  bool behindAnotherLine;          // another input's unfinished line stands at the buffer's end
  std::vector<size_t> files;
};
void PrintTo(const LongLineRow& r, std::ostream* os) { *os << r.name; }

class LongLineEnd : public ::testing::TestWithParam<LongLineRow> {};

TEST_P(LongLineEnd, NoCallFileIsLongerThanTheLongestLineWhereverTheLineEndArrives) {
  constexpr size_t L = capture::kLongestLine;
  Program program;
  program.Start();
  capture::SourceLine other("another input");
  if (GetParam().behindAnotherLine) capture::AppendDelivery(other, "still arriving");
  std::string line;
  const std::vector<size_t>& deliveries = GetParam().deliveries;
  for (size_t d = 0; d < deliveries.size(); ++d) {
    std::string part(deliveries[d], '\0');
    for (size_t i = 0; i < part.size(); ++i) part[i] = static_cast<char>('!' + (line.size() + i) * 7 % 90);
    line += part;
    if (d + 1 == deliveries.size()) part += CR;
    capture::AppendDelivery(program.app()->myPort->line, part);
  }
  for (int t = 0; t < 20 && program.app()->buffer().find(CR) != std::string::npos; ++t) Program::Tick();

  std::string joined;
  std::vector<size_t> sizes;
  for (const auto& f : program.CallFiles()) {
    EXPECT_LE(f.content.size(), L) << f.name;
    joined += f.content;
    sizes.push_back(f.content.size());
  }
  EXPECT_EQ(sizes, GetParam().files);
  EXPECT_TRUE(joined == line) << "the pieces are not the line in order";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LongLineEnd,
    ::testing::Values(
        LongLineRow{"OneByteOverWithItsLineEnd", {capture::kLongestLine + 1}, false, {capture::kLongestLine, 1}},
        LongLineRow{"ThreeTimesOverInOneDelivery",
                    {3 * capture::kLongestLine + 5},
                    false,
                    {capture::kLongestLine, capture::kLongestLine, capture::kLongestLine, 5}},
        LongLineRow{"LineEndInALaterDelivery",
                    {10u << 20, 10u << 20},
                    false,
                    {capture::kLongestLine, (20u << 20) - capture::kLongestLine}},
        LongLineRow{"BehindAnotherInputsUnfinishedLine",
                    {capture::kLongestLine + 1},
                    true,
                    {capture::kLongestLine, 1}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SerialRoad, PartialLineBehindATakenLineWaitsFromThatTick) {
  pty.Write("one" + CR + "tail");
  ASSERT_TRUE(RunUntil([&] { return program.CallFiles().size() == 1; }));
  // The tick that took "one" moved the deadline ten seconds on.
  EXPECT_GT(program.app()->timeout->TotalSeconds(), fw::Date().TotalSeconds() + 9.0);
  fw::testing::RunEventLoopFor(1100);
  EXPECT_EQ(program.CallContents(), std::vector<std::string>{"one"});
  EXPECT_EQ(program.app()->buffer(), "tail");
}

TEST_F(SerialRoad, UnwritableCallFileKeepsRecordUntilTheFolderReturns) {
  std::filesystem::remove_all(program.callsDir());
  int before = fw::UnhandledExceptionCount();
  pty.Write("billable" + CR + "next" + CR);
  // Several ticks fail; each is reported and the record stays first in line.
  ASSERT_TRUE(RunUntil([&] { return fw::UnhandledExceptionCount() >= before + 2; }, 3000));
  EXPECT_EQ(program.app()->buffer(), "billable" + CR + "next" + CR);
  pty.Write("more" + CR);
  ASSERT_TRUE(RunUntil([&] { return program.app()->buffer() == "billable" + CR + "next" + CR + "more" + CR; }, 1000))
      << "input stopped while call files failed";

  std::filesystem::create_directory(program.callsDir());
  ASSERT_TRUE(RunUntil([&] { return program.CallFiles().size() == 3; }, 5000));
  EXPECT_EQ(program.CallContents(), (std::vector<std::string>{"billable", "next", "more"}));
}

TEST_F(SerialRoad, LineStateAndErrorShowInTheStatusLine) {
  struct Row {
    std::vector<fw::Int32> states;
    std::string shown;
  };
  for (const Row& r : {Row{{0, 1, 0}, "State Change 1"}, Row{{5, 7}, "State Change 7"}}) {
    program.app()->myPort->LineStateChanged.Raise(r.states);
    EXPECT_EQ(program.Status(), r.shown);
  }
  program.app()->myPort->Error.Raise();
  EXPECT_EQ(program.Status(), "Serial Error");
  // A short array is reported, not read past its end.
  int before = fw::UnhandledExceptionCount();
  program.app()->myPort->LineStateChanged.Raise({3});
  EXPECT_EQ(fw::UnhandledExceptionCount(), before + 1);
  EXPECT_EQ(program.Status(), "Serial Error");
}

// The TCP road: an IPSocket per connection, as the main window's listener hands them out.
class TcpRoad : public ::testing::Test {
 protected:
  void SetUp() override { program.Start(); }
  Program program;
};

TEST_F(TcpRoad, ConnectionRecordsBecomeFilesAndCloseIsReported) {
  tptest::IPSocketServer listener;
  tptest::TcpClient client(listener.port());
  ASSERT_TRUE(RunUntil([&] { return program.Status() == "Socket connected"; }));
  client.Send("tcp one" + CR + LF + "tcp two" + LF);
  ASSERT_TRUE(RunUntil([&] { return program.CallFiles().size() == 2; }));
  EXPECT_EQ(program.CallContents(), (std::vector<std::string>{"tcp one", "tcp two"}));
  client.Close();
  ASSERT_TRUE(RunUntil([&] { return program.Status().rfind("IP Socket Error ", 0) == 0; }));
  EXPECT_EQ(program.Status(), "IP Socket Error 102");
}

TEST_F(TcpRoad, TwoConnectionsShareOneBufferInDeliveryOrder) {
  tptest::IPSocketServer listener;
  tptest::TcpClient a(listener.port()), b(listener.port());
  a.Send("from a" + CR);
  ASSERT_TRUE(RunUntil([&] { return program.app()->buffer().find("from a") != std::string::npos; }, 400));
  b.Send("from b" + CR);
  ASSERT_TRUE(RunUntil([&] { return program.CallFiles().size() == 2; }));
  EXPECT_EQ(program.CallContents(), (std::vector<std::string>{"from a", "from b"}));
}

}  // namespace
