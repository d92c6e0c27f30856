// The settings file: what is written is read back, and odd files do no harm.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <random>

#include "capture/Settings.h"
#include "framework/FolderItem.h"
#include "support/TestEnvironment.h"

using capture::Settings;

namespace {

class SettingsFileTest : public ::testing::Test {
 protected:
  fw::Ref<fw::FolderItem> file() { return fw::FolderItem::FromPath(path()); }
  std::string path() { return dir / "lineKeeper.prefs"; }
  Settings Read(const std::string& content, Settings s = {}) {
    tptest::WriteFile(path(), content);
    EXPECT_TRUE(capture::ReadSettings(file(), s));
    return s;
  }
  tptest::TempDir dir;
};

TEST_F(SettingsFileTest, WrittenSettingsReadBackUnchanged) {
  const Settings rows[] = {
      {"", 0, 0, 0, 0},
      {"/dev/ttyUSB0", 10, 2, 2, 0},
      {"name with spaces \x80\xff\x1b", INT32_MIN, INT32_MAX, -1, 12345},
  };
  for (const Settings& written : rows) {
    capture::WriteSettings(file(), written);
    Settings read{"other", 9, 9, 9, 9};
    ASSERT_TRUE(capture::ReadSettings(file(), read));
    EXPECT_EQ(read, written) << written.port;
  }
}

TEST_F(SettingsFileTest, WrittenFileIsFiveKeyTabValueLines) {
  capture::WriteSettings(file(), Settings{"/dev/ttyS0", 8, 1, 2, 3});
  EXPECT_EQ(tptest::ReadFile(path()), "port\t/dev/ttyS0\nbaud\t8\nparity\t1\nstop\t2\nbits\t3\n");
}

TEST_F(SettingsFileTest, WriteCreatesAMissingPreferencesFolder) {
  auto nested = fw::FolderItem::FromPath(dir / "new/lineKeeper.prefs");
  capture::WriteSettings(nested, Settings{});
  EXPECT_EQ(tptest::ReadFile(dir / "new/lineKeeper.prefs"), "port\t\nbaud\t4\nparity\t0\nstop\t0\nbits\t3\n");
}

struct ReadRow {
  const char* fault;
  std::string content;
  Settings expected;  // read over {"before", 4, 0, 0, 3}
};
void PrintTo(const ReadRow& r, std::ostream* os) { *os << r.fault; }

class ReadRules : public SettingsFileTest, public ::testing::WithParamInterface<ReadRow> {};

TEST_P(ReadRules, LinesSetTheirKeyOnly) {
  EXPECT_EQ(Read(GetParam().content, Settings{"before", 4, 0, 0, 3}), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ReadRules,
    ::testing::Values(
        ReadRow{"KeyOrderMatters", "bits\t0\nstop\t1\nparity\t2\nbaud\t7\nport\tp\n", {"p", 7, 2, 1, 0}},
        ReadRow{"FirstOfTwoKeysWins", "baud\t1\nbaud\t9\n", {"before", 9, 0, 0, 3}},
        ReadRow{"UnknownKeysApplied", "speed\t9\nPORT\tx\n\nbaudrate\t2\n", {"before", 4, 0, 0, 3}},
        ReadRow{"MissingKeyResetsSetting", "stop\t2\n", {"before", 4, 0, 2, 3}},
        ReadRow{"LineWithoutTabMisread", "port\nbaud\n", {"", 0, 0, 0, 3}},
        ReadRow{"SecondTabJoinedToValue", "port\t/dev/a\tjunk\nbaud\t7\t9\n", {"/dev/a", 7, 0, 0, 3}},
        ReadRow{"EmptyPortValueIgnored", "port\t\n", {"", 4, 0, 0, 3}},
        ReadRow{"PortValueTrimmed", "port\t a b \n", {" a b ", 4, 0, 0, 3}},
        ReadRow{"CrLfLinesMisread", "port\tq\r\nbaud\t3\r\n", {"q", 3, 0, 0, 3}},
        ReadRow{"LastLineWithoutEndDropped", "baud\t6\nbits\t2", {"before", 6, 0, 0, 2}},
        ReadRow{"NonNumberCrashes", "baud\tabc\nbits\t99999999999\n", {"before", 0, 0, 0, INT32_MAX}}),
    [](const auto& info) { return std::string(info.param.fault); });

TEST_F(SettingsFileTest, MissingFileChangesNothing) {
  Settings s{"kept", 1, 2, 2, 1};
  EXPECT_FALSE(capture::ReadSettings(file(), s));
  EXPECT_EQ(s, (Settings{"kept", 1, 2, 2, 1}));
}

TEST_F(SettingsFileTest, GarbageBeforeAValidLineDoesNotStopTheReader) {
  std::mt19937 rng(4);
  for (size_t size : {1u, 100u, 5000u, 60000u}) {  // a file past 64 KiB is not read at all
    std::string junk(size, '\0');
    for (char& c : junk) c = static_cast<char>(rng());
    Settings s = Read(junk + "\nbaud\t7\n");
    EXPECT_EQ(s.baud, 7) << "after " << size << " bytes of garbage";
  }
}

}  // namespace
