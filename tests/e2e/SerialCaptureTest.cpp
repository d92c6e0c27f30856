// The real program reading call records from a serial line (a pseudo-terminal).
#include <gtest/gtest.h>

#include "support/CallFolder.h"
#include "support/ChildProgram.h"
#include "support/LocalZone.h"
#include "support/Pty.h"
#include "support/SettingsFile.h"
#include "support/TestEnvironment.h"
#include "support/WaitFor.h"

namespace tptest {
namespace {

using Clock = std::chrono::system_clock;

double Seconds(Clock::time_point t) { return std::chrono::duration<double>(t.time_since_epoch()).count(); }

class SerialCapture : public ::testing::Test {
 protected:
  // Starts the program on the pseudo-terminal and waits until it has put the
  // line into raw mode, which it does when it opens the port.
  void StartOnPty() {
    ChildProgram::Options o;
    o.prefs = LineSettings{pty.slavePath(), 8, 0, 0, 3};
    o.serialPorts = pty.slavePath();
    program.Start(o);
    ASSERT_TRUE(WaitFor([&] { return pty.Raw(); }, 15s))
        << "the program never opened " << pty.slavePath() << program.Diagnostics();
  }

  LocalZone zone;
  Pty pty{Pty::Line::LeftToTheOpener};
  ChildProgram program;
};

std::string Bytes(const char* s, size_t n) { return std::string(s, n); }

TEST_F(SerialCapture, EveryLineEndFormBecomesOneCallFilePerTickNamedByLocalTime) {
  ASSERT_NO_FATAL_FAILURE(StartOnPty());
  // Each chunk is one write, far enough apart to arrive as a delivery of its own.
  const std::vector<std::string> chunks = {
      "rec-01 CR\r",
      "rec-02 LF\n",
      "rec-03 CRLF\r\n",
      "rec-04 split ",
      "across writes\r\n",
      "rec-05 CR here\r",
      "\nrec-06 LF at the start of the next write\r\n",
      "rec-07 raw caf\xE9\t\x1B bytes\n",
      Bytes("rec-08 nu\0l dropped\r\n", 21),
      "rec-09 ",
      "in ",
      "three\n",
  };
  const std::vector<std::string> expected = {
      "rec-01 CR",
      "rec-02 LF",
      "rec-03 CRLF",
      "rec-04 split across writes",
      "rec-05 CR here",
      "rec-06 LF at the start of the next write",
      "rec-07 raw caf\xE9\t\x1B bytes",
      "rec-08 nul dropped",
      "rec-09 in three",
  };
  const auto firstWrite = Clock::now();
  for (const auto& c : chunks) {
    pty.Write(c);
    std::this_thread::sleep_for(120ms);
  }
  ASSERT_TRUE(program.WaitForCalls(expected.size(), 20s))
      << "only " << CountCalls(program.calls) << " call files" << program.Diagnostics();
  std::this_thread::sleep_for(1500ms);  // nothing more may come

  std::vector<std::string> strays;
  auto calls = ReadCalls(program.calls, &strays);
  EXPECT_TRUE(strays.empty()) << "unexpected entry in Calls: " << strays.front();
  ASSERT_EQ(Contents(calls), expected);

  const std::string earliest = StampAt(Clock::to_time_t(firstWrite));
  for (size_t i = 0; i < calls.size(); ++i) {
    const auto& f = calls[i];
    SCOPED_TRACE(f.name);
    // Named when it was written: its stamp is the second of its mtime or the one before.
    const time_t written = time_t(f.mtime);
    EXPECT_TRUE(f.stamp == StampAt(written) || f.stamp == StampAt(written - 1))
        << "stamp " << f.stamp << " is not local time " << StampAt(written);
    EXPECT_GE(f.stamp, earliest);
    const long expectedCounter = (i > 0 && calls[i - 1].stamp == f.stamp) ? calls[i - 1].counter + 1 : 0;
    EXPECT_EQ(f.counter, expectedCounter);
    if (i == 0) {
      EXPECT_GE(f.mtime - Seconds(firstWrite), 0.4) << "written before the first tick";
    } else {
      EXPECT_GE(f.mtime - calls[i - 1].mtime, 0.4) << "two call files within one 500 ms tick";
    }
  }
}

TEST_F(SerialCapture, LineWithoutLineEndIsWrittenWholeTenSecondsAfterTheLastData) {
  ASSERT_NO_FATAL_FAILURE(StartOnPty());
  pty.Write("taken at once\r\nslow record");
  ASSERT_TRUE(program.WaitForCalls(1, 5s)) << program.Diagnostics();
  // More of the same line arrives later and moves the deadline.
  std::this_thread::sleep_for(5s);
  pty.Write(" ends here");
  const double lastData = Seconds(Clock::now());
  ASSERT_TRUE(program.WaitForCalls(2, 15s)) << program.Diagnostics();
  std::this_thread::sleep_for(1s);

  auto calls = ReadCalls(program.calls);
  ASSERT_EQ(Contents(calls), (std::vector<std::string>{"taken at once", "slow record ends here"}));
  const double after = calls[1].mtime - lastData;
  EXPECT_GE(after, 9.95) << "the unterminated line was cut before its deadline";
  EXPECT_LE(after, 11.1) << "the unterminated line waited well past its deadline";
}

// Ended by a signal, as a service manager or a shutdown ends it.
class EndedBySignal : public SerialCapture, public ::testing::WithParamInterface<int> {};

TEST_P(EndedBySignal, EveryBufferedRecordIsWrittenExactlyOnce) {
  ASSERT_NO_FATAL_FAILURE(StartOnPty());
  std::string burst;
  std::vector<std::string> expected;
  for (int i = 1; i <= 20; ++i) {
    char rec[32];
    std::snprintf(rec, sizeof rec, "term-%02d 0155501%02d", i, i);
    expected.push_back(rec);
    burst += std::string(rec) + "\r\n";
  }
  burst += "term-tail without line end";
  expected.push_back("term-tail without line end");
  pty.Write(burst);
  ASSERT_TRUE(program.WaitForCalls(1, 5s)) << program.Diagnostics();

  program.process.Signal(GetParam());
  auto status = program.process.WaitExit(15s);
  ASSERT_TRUE(status.has_value()) << "still running 15 s after " << strsignal(GetParam()) << program.Diagnostics();
  EXPECT_TRUE(WIFEXITED(*status) || (WIFSIGNALED(*status) && WTERMSIG(*status) == GetParam()))
      << "crashed on the way out: " << strsignal(WTERMSIG(*status)) << program.Diagnostics();

  std::vector<std::string> strays;
  auto calls = ReadCalls(program.calls, &strays);
  EXPECT_TRUE(strays.empty()) << "unexpected entry in Calls: " << strays.front();
  EXPECT_EQ(Contents(calls), expected) << "exit status " << *status << program.Diagnostics();
}

INSTANTIATE_TEST_SUITE_P(TermIntHup, EndedBySignal, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const auto& info) { return std::string(sigabbrev_np(info.param)); });

TEST_F(SerialCapture, CallFileOfAnEarlierRunWithTheSameNameIsNotReplaced) {
  // What a run that ended within the last seconds (or the hour that repeats
  // when summer time ends) left behind under the names this run will use.
  fs::create_directories(program.calls);
  const time_t now = time(nullptr);
  std::vector<std::pair<std::string, std::string>> earlier;
  for (int second = 0; second < 10; ++second)
    for (int counter = 0; counter < 2; ++counter) {
      earlier.emplace_back(StampAt(now + second) + std::to_string(counter) + ".txt",
                           "earlier " + std::to_string(second) + "/" + std::to_string(counter));
      tptest::WriteFile(program.calls + "/" + earlier.back().first, earlier.back().second);
    }
  ASSERT_NO_FATAL_FAILURE(StartOnPty());
  pty.Write("new-01\r\nnew-02\r\n");
  ASSERT_TRUE(WaitFor([&] {
    auto all = Contents(ReadCalls(program.calls));
    return std::find(all.begin(), all.end(), "new-02") != all.end();
  }, 10s)) << program.Diagnostics();
  std::this_thread::sleep_for(1s);

  for (const auto& [name, content] : earlier)
    EXPECT_EQ(tptest::ReadFile(program.calls + "/" + name), content) << name << " was replaced";
  auto calls = ReadCalls(program.calls);
  auto all = Contents(calls);
  EXPECT_EQ(std::count(all.begin(), all.end(), "new-01"), 1);
  EXPECT_EQ(std::count(all.begin(), all.end(), "new-02"), 1);
  const auto first = std::find_if(calls.begin(), calls.end(), [](const CallFile& f) { return f.content == "new-01"; });
  ASSERT_NE(first, calls.end());
  EXPECT_LE(first->stamp, StampAt(now + 9)) << "written after the seconds taken by the earlier run: nothing was tried";
}

}  // namespace
}  // namespace tptest
