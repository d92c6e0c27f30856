// Serial input through a pseudo-terminal: the Serial opens the slave, the
// test plays the far end on the master. Only kernel termios here (termios2),
// never <termios.h>, so the exact rates can be read back.
#include <asm/termbits.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <cstdlib>
#include <ctime>
#include <functional>

#include "framework/Testing.h"
#include "framework/Runtime.h"
#include "framework/Serial.h"
#include "support/ProcFigures.h"
#include "support/Pty.h"
#include "support/TestEnvironment.h"
#include "support/WaitFor.h"

namespace {

using fw::Int32;
using fw::Ref;
using fw::Serial;
using fw::String;

using tptest::Pty;
using tptest::RunFor;
using tptest::RunUntil;

// The line as another opener of the slave sees it.
termios2 LineOf(const Pty& pty) {
  termios2 t{};
  int fd = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(ioctl(fd, TCGETS2, &t), 0);
  ::close(fd);
  return t;
}

// A Serial whose events are counted and whose input is collected.
struct Probe {
  Ref<Serial> serial = fw::New<Serial>();
  String received;
  int dataEvents = 0;
  int errors = 0;
  std::vector<std::string> order;

  Probe() {
    serial->DataAvailable.Install(std::make_shared<fw::Delegate<void()>>(
        [this] {
          ++dataEvents;
          received += serial->ReadAll();
          order.push_back("data");
        },
        "Probe.DataAvailable"));
    serial->Error.Install(std::make_shared<fw::Delegate<void()>>(
        [this] {
          ++errors;
          order.push_back("error");
        },
        "Probe.Error"));
  }
  bool OpenOn(const std::string& path) {
    serial->SerialPort(Ref<fw::SerialPort>(std::make_shared<fw::SerialPort>(path)));
    return serial->Open();
  }
};

TEST(Serial, SplitWritesArriveWholeWithNulAndHighBytesUnconverted) {
  Pty pty{Pty::Line::LeftToTheOpener};
  Probe p;
  p.serial->XON(false);
  ASSERT_TRUE(p.OpenOn(pty.slavePath()));

  const std::string first("CALL 0012\0\xff\x80", 12);
  const std::string second("\r\n\x7f\x1b tail\r", 10);
  pty.Write(first);
  ASSERT_TRUE(RunUntil([&] { return p.received.size() >= first.size(); }));
  pty.Write(second);
  ASSERT_TRUE(RunUntil([&] { return p.received.size() >= first.size() + second.size(); }));
  EXPECT_EQ(p.received, first + second);
  EXPECT_EQ(p.serial->ReadAll(), "");  // nothing read twice
}

TEST(Serial, LargeBurstIsReadCompletely) {
  Pty pty{Pty::Line::LeftToTheOpener};
  Probe p;
  ASSERT_TRUE(p.OpenOn(pty.slavePath()));
  std::string burst;
  for (int i = 0; burst.size() < 3000; ++i) burst += "record " + std::to_string(i) + "\r";
  pty.Write(burst);
  ASSERT_TRUE(RunUntil([&] { return p.received.size() >= burst.size(); }));
  EXPECT_EQ(p.received, burst);
}

struct LineRow {
  Int32 baud, bits, parity, stop;
  bool cts, xon, dtr;
  unsigned rate;
};

class SerialLine : public ::testing::TestWithParam<LineRow> {};

// Every baud code appears once, with the other settings varied around it.
INSTANTIATE_TEST_SUITE_P(EveryBaudCode, SerialLine,
                         ::testing::Values(LineRow{0, 0, 0, 0, false, false, false, 300},
                                           LineRow{1, 1, 1, 1, true, false, true, 600},
                                           LineRow{2, 2, 2, 2, false, true, false, 1200},
                                           LineRow{3, 3, 0, 0, true, true, true, 1800},
                                           LineRow{4, 3, 1, 2, false, false, true, 2400},
                                           LineRow{5, 2, 2, 0, true, true, false, 3600},
                                           LineRow{6, 1, 0, 1, false, true, true, 4800},
                                           LineRow{7, 0, 1, 0, true, false, false, 7200},
                                           LineRow{8, 3, 2, 2, false, false, false, 9600},
                                           LineRow{9, 3, 0, 0, true, true, true, 14400},
                                           LineRow{10, 2, 1, 1, true, true, true, 19200}));

TEST_P(SerialLine, SettingsAreOnTheLineAsCoded) {
  const LineRow& r = GetParam();
  Pty pty{Pty::Line::LeftToTheOpener};
  Probe p;
  p.serial->Baud(r.baud);
  p.serial->Bits(r.bits);
  p.serial->Parity(r.parity);
  p.serial->Stop(r.stop);
  p.serial->CTS(r.cts);
  p.serial->XON(r.xon);
  p.serial->DTR(r.dtr);  // a pty has no DTR: raising it must not fail the open
  ASSERT_TRUE(p.OpenOn(pty.slavePath()));

  const termios2 t = LineOf(pty);
  EXPECT_EQ(t.c_ospeed, r.rate);
  EXPECT_EQ(t.c_ispeed, r.rate);
  // The pty driver forces CS8 and clears PARENB whatever is asked; the odd
  // flag and the rest survive, so they show what was asked for.
  EXPECT_EQ((t.c_cflag & PARODD) != 0, r.parity == 1);
  EXPECT_EQ((t.c_cflag & CSTOPB) != 0, r.stop != 0);  // 1.5 is given as 2 on Linux
  EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, r.cts);
  EXPECT_EQ((t.c_iflag & IXON) != 0, r.xon);
  EXPECT_EQ((t.c_iflag & IXOFF) != 0, r.xon);
  // Raw: no line editing, no echo, no CR/LF translation on input.
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP), 0u);
}

TEST(Serial, ChangesWhileOpenReachTheLineAndReopenReappliesThem) {
  Pty pty{Pty::Line::LeftToTheOpener};
  Probe p;
  p.serial->CTS(true);
  ASSERT_TRUE(p.OpenOn(pty.slavePath()));
  p.serial->Baud(9);
  p.serial->CTS(false);
  p.serial->XON(true);
  termios2 t = LineOf(pty);
  EXPECT_EQ(t.c_ospeed, 14400u);
  EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
  EXPECT_NE(t.c_iflag & IXON, 0u);

  // Someone else alters the line; Open on the open port puts ours back.
  int fd = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  t.c_cflag = (t.c_cflag & ~(CBAUD | (CBAUD << IBSHIFT))) | B300 | (B300 << IBSHIFT);
  t.c_ispeed = t.c_ospeed = 300;
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF);
  ASSERT_EQ(ioctl(fd, TCSETS2, &t), 0);
  ::close(fd);
  EXPECT_TRUE(p.serial->Open());
  EXPECT_TRUE(p.serial->IsOpen());
  t = LineOf(pty);
  EXPECT_EQ(t.c_ospeed, 14400u);
  EXPECT_NE(t.c_iflag & IXON, 0u);

  // Still reading after the second Open.
  pty.Write("after reopen\r");
  ASSERT_TRUE(RunUntil([&] { return p.received == "after reopen\r"; }));
}

TEST(Serial, OpenReportsFalseAndStaysClosedForEveryUnusablePort) {
  tptest::TempDir dir;
  tptest::WriteFile(dir / "plain-file", "not a tty");
  Pty pty{Pty::Line::LeftToTheOpener};
  struct Row {
    const char* what;
    std::function<void(Serial&)> setUp;
  };
  const std::vector<Row> rows = {
      {"no port", [](Serial& s) { s.SerialPort(nullptr); }},
      {"missing device",
       [&](Serial& s) { s.SerialPort(Ref<fw::SerialPort>(std::make_shared<fw::SerialPort>(dir / "none"))); }},
      {"not a terminal",
       [&](Serial& s) {
         s.SerialPort(Ref<fw::SerialPort>(std::make_shared<fw::SerialPort>(dir / "plain-file")));
       }},
      {"baud code out of range",
       [&](Serial& s) {
         s.SerialPort(Ref<fw::SerialPort>(std::make_shared<fw::SerialPort>(pty.slavePath())));
         s.Baud(11);
       }},
      {"bits code out of range",
       [&](Serial& s) {
         s.SerialPort(Ref<fw::SerialPort>(std::make_shared<fw::SerialPort>(pty.slavePath())));
         s.Bits(-1);
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Ref<Serial> s = fw::New<Serial>();
    row.setUp(*s);
    EXPECT_FALSE(s->Open());
    EXPECT_FALSE(s->IsOpen());
    EXPECT_NE(s->LastErrorCode(), 0);
  }
}

TEST(Serial, VanishedFarEndRaisesErrorOnceThenTheLoopGoesIdle) {
  auto pty = std::make_unique<Pty>(Pty::Line::LeftToTheOpener);
  Probe p;
  ASSERT_TRUE(p.OpenOn(pty->slavePath()));
  pty->Write("last call\r");
  ASSERT_TRUE(RunUntil([&] { return p.received == "last call\r"; }));

  pty->Vanish();
  ASSERT_TRUE(RunUntil([&] { return p.errors > 0; }));
  EXPECT_FALSE(p.serial->IsOpen());

  // No second report and no spinning on a dead descriptor.
  const double cpuBefore = tptest::SelfCpuSeconds();
  RunFor(400);
  const double cpuUsed = tptest::SelfCpuSeconds() - cpuBefore;
  EXPECT_EQ(p.errors, 1);
  EXPECT_EQ(p.dataEvents, 1);
  EXPECT_LT(cpuUsed, 0.1);
  EXPECT_EQ(p.received, "last call\r");

  // The same object opens a new line afterwards and reports its failure anew.
  Pty second{Pty::Line::LeftToTheOpener};
  ASSERT_TRUE(p.OpenOn(second.slavePath()));
  second.Write("next\r");
  ASSERT_TRUE(RunUntil([&] { return p.received == "last call\rnext\r"; }));
  second.Vanish();
  ASSERT_TRUE(RunUntil([&] { return p.errors == 2; }));
}

TEST(Serial, ClosedPortRaisesNothingAndKeepsUnreadBytes) {
  Pty pty{Pty::Line::LeftToTheOpener};
  Ref<Serial> s = fw::New<Serial>();
  int events = 0;
  s->DataAvailable.Install(std::make_shared<fw::Delegate<void()>>([&] { ++events; }, "Count.DataAvailable"));
  s->SerialPort(Ref<fw::SerialPort>(std::make_shared<fw::SerialPort>(pty.slavePath())));
  ASSERT_TRUE(s->Open());
  pty.Write("unread\r");
  ASSERT_TRUE(RunUntil([&] { return events == 1; }));
  s->Close();
  EXPECT_FALSE(s->IsOpen());
  pty.Write("while closed\r");
  RunFor(100);
  EXPECT_EQ(events, 1);
  // Bytes that arrived while open and were never read are not thrown away.
  EXPECT_EQ(s->ReadAll(), "unread\r");
}

}  // namespace
