// A settings file that never ends, never opens or is far too large: the real
// program starts all the same, with its settings as they were.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "support/CallFolder.h"
#include "support/ChildProgram.h"
#include "support/NetNamespace.h"
#include "support/Pty.h"
#include "support/SettingsFile.h"
#include "support/TcpClient.h"
#include "support/TestEnvironment.h"
#include "support/WaitFor.h"

namespace tptest {
namespace {

struct HostileFile {
  const char* name;
  std::function<void(const std::string& path, const std::string& port)> make;
};

void PrintTo(const HostileFile& f, std::ostream* os) { *os << f.name; }

class HostileSettings : public ::testing::TestWithParam<HostileFile> {};

TEST_P(HostileSettings, StartupFinishesWithTheSettingsAsTheyWereAndSigtermEndsIt) {
  NetNamespace net;
  if (!net.ok()) GTEST_SKIP() << "needs a network namespace of its own (run as root): " << net.why();
  Pty pty{Pty::Line::LeftToTheOpener};
  ChildProgram program;
  GetParam().make(program.PrefsPath(), pty.slavePath());
  ChildProgram::Options o;
  o.serialPorts = pty.slavePath();
  program.Start(o);

  ASSERT_TRUE(WaitFor([] { return TcpListening(23); }, 15s)) << "start-up never reached the listener" << program.Diagnostics();
  TcpClient c(23);
  c.Send("after hostile settings\r\n");
  ASSERT_TRUE(program.WaitForCalls(1, 10s)) << "the processing timer never wrote the record" << program.Diagnostics();
  EXPECT_EQ(Contents(ReadCalls(program.calls)), std::vector<std::string>{"after hostile settings"});
  // The file names the line; read, it would have been opened.
  EXPECT_FALSE(pty.Raw()) << "settings were taken from the file" << program.Diagnostics();
  EXPECT_NE(program.Stderr().find("lineKeeper.prefs not read"), std::string::npos) << program.Diagnostics();

  program.process.Signal(SIGTERM);
  EXPECT_TRUE(program.process.WaitExit(5s).has_value()) << "SIGTERM did not end it" << program.Diagnostics();
}

INSTANTIATE_TEST_SUITE_P(
    Files, HostileSettings,
    ::testing::Values(
        HostileFile{"LinkToDevZero",
                    [](const std::string& path, const std::string&) {
                      ASSERT_EQ(symlink("/dev/zero", path.c_str()), 0);
                    }},
        HostileFile{"Fifo", [](const std::string& path, const std::string&) { ASSERT_EQ(mkfifo(path.c_str(), 0644), 0); }},
        HostileFile{"LargerThan64KiB",
                    [](const std::string& path, const std::string& port) {
                      tptest::WriteFile(path, PrefsText(LineSettings{port, 8, 0, 0, 3}) + "note\t" +
                                                  std::string(70 * 1024, 'x') + "\n");
                    }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tptest
