// A failure that only the status line would show (or nothing at all) must
// reach standard error, for a copy run as a service without a display: what
// failed and the system's reason, on one line, once.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

#include <thread>

#include "support/ChildProgram.h"
#include "support/Pty.h"
#include "support/SettingsFile.h"
#include "support/WaitFor.h"

namespace tptest {
namespace {

enum class Fault {
  CallsUnwritable,
  CallsPlainFile,
  DeviceMissing,
  SettingsRefused,
  LineLocked,
  PortNotListed,
  NoPort
};

struct ReasonRow {
  const char* name;
  Fault fault;
  const char* reason;  // after the path on the same line
};

void PrintTo(const ReasonRow& row, std::ostream* os) { *os << row.name; }

class FailureReason : public ::testing::TestWithParam<ReasonRow> {
 protected:
  void TearDown() override {
    if (lockFd_ >= 0) close(lockFd_);
  }

  // The port the program is to open, and what a record must be sent on.
  void Arrange(Fault fault, ChildProgram::Options& o, std::string& port) {
    port = program_.root / "tty";
    switch (fault) {
      case Fault::CallsUnwritable:
      case Fault::CallsPlainFile:
        port = pty_.slavePath();
        if (fault == Fault::CallsPlainFile) {
          WriteFile(program_.calls, "");
        } else {
          fs::create_directory(program_.calls);
          fs::permissions(program_.calls, fs::perms(0555));
          // Root writes into any folder: the program runs as "nobody".
          if (geteuid() == 0) RunAsNobody(o);
        }
        break;
      case Fault::DeviceMissing:
        break;
      case Fault::SettingsRefused:
        WriteFile(port, "");
        break;  // a plain file takes no termios
      case Fault::LineLocked:
        port = pty_.slavePath();
        lockFd_ = open(port.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_EQ(flock(lockFd_, LOCK_EX | LOCK_NB), 0);
        break;
      case Fault::PortNotListed:
      case Fault::NoPort:
        o.serialPorts = "";
        o.env["TALLYPOINT_SERIAL_ENUMERATION"] = "0";
        if (fault == Fault::NoPort) port.clear();
        o.prefs = LineSettings{port, 8, 0, 0, 3};
        return;
    }
    o.prefs = LineSettings{port, 8, 0, 0, 3};
    o.serialPorts = port;
  }

  void RunAsNobody(ChildProgram::Options& o) {
    const passwd* nobody = getpwnam("nobody");
    if (!nobody) GTEST_SKIP() << "no user \"nobody\" to run the program as";
    o.uid = nobody->pw_uid;
    o.gid = nobody->pw_gid;
    for (const std::string& p : {program_.root.path(), program_.volume, program_.preferences})
      fs::permissions(p, fs::perms(0755));
    WriteFile(program_.modalLogPath, "");
    ASSERT_EQ(chown(program_.modalLogPath.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    ASSERT_EQ(chown(pty_.slavePath().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
  }

  size_t LinesNaming(const std::string& what, const std::string& reason) const {
    size_t n = 0;
    for (const std::string& line : ReadLines(program_.stderrPath)) {
      const size_t at = line.find(what);
      if (line.rfind("TallyPoint: ", 0) == 0 && at != std::string::npos &&
          line.find(reason, at) != std::string::npos)
        ++n;
    }
    return n;
  }

  Pty pty_{Pty::Line::LeftToTheOpener};
  ChildProgram program_;
  int lockFd_ = -1;
};

TEST_P(FailureReason, ReachesStandardErrorWithWhatFailedAndWhyOnce) {
  const ReasonRow& row = GetParam();
  ChildProgram::Options o;
  std::string port;
  ASSERT_NO_FATAL_FAILURE(Arrange(row.fault, o, port));
  if (IsSkipped()) return;
  program_.Start(o);

  std::string what;
  if (row.fault == Fault::CallsUnwritable || row.fault == Fault::CallsPlainFile) {
    ASSERT_TRUE(WaitFor([&] { return pty_.Raw(); }, 15s))
        << "the serial port never opened" << program_.Diagnostics();
    pty_.Write("never filed 5550123\r\n");
    what = "cannot create call file " + program_.calls + "/";
  } else {
    what = row.fault == Fault::NoPort ? "no serial port chosen" : "cannot open serial port " + port + ": ";
  }
  ASSERT_TRUE(WaitFor([&] { return LinesNaming(what, row.reason) > 0; }, 10s))
      << "standard error does not say \"" << what << "\" with \"" << row.reason << "\""
      << program_.Diagnostics();
  // A few more ticks retry the record; a port is tried once.
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(LinesNaming(what, row.reason), 1u) << program_.Diagnostics();
  EXPECT_TRUE(program_.Alive()) << program_.Diagnostics();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FailureReason,
    ::testing::Values(ReasonRow{"CallsFolderUnwritable", Fault::CallsUnwritable, "Permission denied"},
                      ReasonRow{"CallsIsAPlainFile", Fault::CallsPlainFile, "Not a directory"},
                      ReasonRow{"SerialDeviceMissing", Fault::DeviceMissing, "No such file or directory"},
                      ReasonRow{"LineSettingsRefused", Fault::SettingsRefused,
                                "line settings refused: Inappropriate ioctl for device"},
                      ReasonRow{"LineLockedByAnother", Fault::LineLocked,
                                "locked by another reader of the line"},
                      ReasonRow{"PortNotListed", Fault::PortNotListed, "the system does not list it"},
                      ReasonRow{"NoPortChosen", Fault::NoPort, ""}),
    [](const ::testing::TestParamInfo<ReasonRow>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tptest
