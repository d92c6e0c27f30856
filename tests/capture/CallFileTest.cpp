// Call-file names and contents, written by the real processing timer.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>

#include "capture/CallFile.h"
#include "capture/secondTimer.h"
#include "framework/Date.h"
#include "framework/Testing.h"
#include "support/CallFolder.h"
#include "support/InProcessProgram.h"
#include "support/TestEnvironment.h"

using tptest::Program;

namespace {

struct StampRow {
  int year, month, day, hour, minute, second;
  const char* stamp;
};
void PrintTo(const StampRow& r, std::ostream* os) { *os << r.stamp; }

class Stamp : public ::testing::TestWithParam<StampRow> {};

TEST_P(Stamp, FieldsTakeTwoDigitsAndYearItsOwn) {
  const StampRow& r = GetParam();
  std::tm t{};
  t.tm_year = r.year - 1900;
  t.tm_mon = r.month - 1;
  t.tm_mday = r.day;
  t.tm_hour = r.hour;
  t.tm_min = r.minute;
  t.tm_sec = r.second;
  t.tm_isdst = -1;
  fw::Date d;
  d.TotalSeconds(static_cast<double>(std::mktime(&t)) + 0.75);
  EXPECT_EQ(capture::CallFileStamp(d), r.stamp);
}

INSTANTIATE_TEST_SUITE_P(Rows, Stamp,
                         ::testing::Values(StampRow{2024, 3, 5, 9, 4, 3, "20240305090403"},
                                           StampRow{2023, 12, 31, 23, 59, 59, "20231231235959"},
                                           StampRow{2000, 1, 1, 0, 0, 0, "20000101000000"},
                                           StampRow{12000, 10, 10, 10, 10, 10, "120001010101010"}));

struct NameParts {
  std::string stamp;
  long counter;
};
NameParts Parts(const std::string& name) {
  std::string stem = name.substr(0, name.size() - 4);
  return {stem.substr(0, 14), std::stol(stem.substr(14))};
}

// Waits until early in a second, so that a few writes share its stamp.
void AwaitStartOfSecond() {
  tptest::RunUntil([] {
    double s = fw::Date().TotalSeconds();
    return s - static_cast<long long>(s) < 0.3;
  }, 2000);
}

class CallFiles : public ::testing::Test {
 protected:
  void SetUp() override { program.Start(); }
  secondTimer& writer() { return *program.app()->regularTimer; }
  Program program;
};

TEST_F(CallFiles, CounterRisesWithinASecondAndRestartsAtTheNext) {
  // Pre-existing files of another moment do not move the first counter.
  tptest::WriteFile(program.callsDir() + "/200001010000007.txt", "old");
  AwaitStartOfSecond();
  std::string firstStamp = capture::CallFileStamp(fw::Date());
  int n = 0;
  while (capture::CallFileStamp(fw::Date()) == firstStamp || n < 3) {
    writer().writeFile("r" + std::to_string(n++));
    fw::testing::RunEventLoopFor(60);
  }
  writer().writeFile("r" + std::to_string(n++));

  std::vector<tptest::CallFile> files = program.CallFiles();
  files.erase(files.begin());  // the old file sorts first
  ASSERT_EQ(files.size(), static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    EXPECT_EQ(files[i].content, "r" + std::to_string(i));
    NameParts p = Parts(files[i].name);
    long expected = (i > 0 && Parts(files[i - 1].name).stamp == p.stamp) ? Parts(files[i - 1].name).counter + 1 : 0;
    EXPECT_EQ(p.counter, expected) << files[i].name;
  }
  EXPECT_EQ(Parts(files.front().name).stamp, firstStamp);
  EXPECT_EQ(Parts(files.front().name).counter, 0);
  EXPECT_NE(Parts(files.back().name).stamp, firstStamp);
}

TEST_F(CallFiles, NameTakenByAnEarlierRunIsNeverReplaced) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    AwaitStartOfSecond();
    // A restart within the same second: a new writer, files of that second on disk.
    fw::Ref<secondTimer> restarted = fw::New<secondTimer>();
    std::string stamp = capture::CallFileStamp(fw::Date());
    std::string dir = program.callsDir() + "/";
    tptest::WriteFile(dir + stamp + "0.txt", "earlier 0");
    tptest::WriteFile(dir + stamp + "1.txt", "earlier 1");
    restarted->writeFile("new");
    restarted->writeFile("newer");
    if (capture::CallFileStamp(fw::Date()) != stamp) {  // crossed a second: try again
      std::filesystem::remove_all(program.callsDir());
      std::filesystem::create_directory(program.callsDir());
      continue;
    }
    EXPECT_EQ(tptest::ReadFile(dir + stamp + "0.txt"), "earlier 0");
    EXPECT_EQ(tptest::ReadFile(dir + stamp + "1.txt"), "earlier 1");
    EXPECT_EQ(tptest::ReadFile(dir + stamp + "2.txt"), "new");
    EXPECT_EQ(tptest::ReadFile(dir + stamp + "3.txt"), "newer");
    EXPECT_EQ(program.CallFiles().size(), 4u);
    return;
  }
  FAIL() << "never wrote two files within one second";
}

TEST_F(CallFiles, ContentIsTheRecordsBytesWithNoLineEnd) {
  std::string record;
  for (int c = 1; c < 256; ++c)
    if (c != '\r' && c != '\n') record += static_cast<char>(c);
  writer().writeFile(record);
  auto files = program.CallFiles();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].content.size(), record.size());
  EXPECT_EQ(files[0].content, record);
}

TEST_F(CallFiles, MissingFolderRaisesAndLeavesNoFile) {
  std::filesystem::remove_all(program.callsDir());
  std::string lastBefore = writer().lastFileName;
  EXPECT_THROW(writer().writeFile("lost?"), std::exception);
  EXPECT_FALSE(std::filesystem::exists(program.callsDir()));
  EXPECT_NE(writer().lastFileName, lastBefore) << "the counter moves before the file is made";
}

struct SplitRow {
  const char* fault;
  std::string buffer;
  std::vector<std::string> records;
};
void PrintTo(const SplitRow& r, std::ostream* os) { *os << r.fault; }

class Split : public ::testing::TestWithParam<SplitRow> {};

TEST_P(Split, EndOfRunTakesRecordsAsTheTicksWould) {
  EXPECT_EQ(capture::SplitRecords(GetParam().buffer), GetParam().records);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Split,
    ::testing::Values(SplitRow{"EmptyBufferGivesARecord", "", {}},
                      SplitRow{"EmptyLinesBecomeFiles", "\r\ra\r\r\rb\r", {"a", "b"}},
                      SplitRow{"TextAfterLastCrLost", "a\rpartial", {"a", "partial"}},
                      SplitRow{"TextWithoutCrLost", "no line end", {"no line end"}},
                      SplitRow{"OrderChanged", "3\r1\r2", {"3", "1", "2"}}),
    [](const auto& info) { return std::string(info.param.fault); });

}  // namespace
