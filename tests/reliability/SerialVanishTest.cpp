// The serial device going away in the middle of a record: one "Serial Error"
// in the status line, nothing received is lost, and the process goes idle
// instead of spinning on a dead descriptor.

#include <gtest/gtest.h>

#include <iostream>

#include "capture/customPort.h"
#include "support/CallFolder.h"
#include "support/InProcessProgram.h"
#include "support/ProcFigures.h"
#include "support/Records.h"
#include "framework/Testing.h"

namespace {

using tptest::Program;

TEST(SerialVanish, DeviceGoneMidRecordReportsOnceLosesNothingAndIdles) {
  Program& p = Program::Shared(true);
  ASSERT_TRUE(App()->myPort->IsOpen()) << "the program did not open " << p.pty()->slavePath();
  const std::string calls = p.FreshCallsFolder("calls");

  // Count the error events while the program's own handler still runs. The
  // port owns the handler, so the handler holds the port by plain pointer.
  int errors = 0;
  customPort* port = App()->myPort.get();
  fw::_InstallInstanceEventHandler(App()->myPort, "Error", std::make_shared<fw::Delegate<void()>>([&errors, port] {
    ++errors;
    port->Event_Error();
  }, "customPort.Event_Error"));

  ASSERT_TRUE(p.pty()->Write("whole record before\r\nhalf a rec"));
  ASSERT_TRUE(tptest::RunUntil([] { return App()->buffer().find("half a rec") != std::string::npos; }, 5000));
  p.pty()->Vanish();

  bool shown = tptest::RunUntil([] { return Program::Text("portStatus")->Text() == "Serial Error"; },
                                      5000);
  EXPECT_TRUE(shown) << "status line: " << Program::Text("portStatus")->Text();

  // Idle afterwards: ticks still run on the text left in the buffer, but a
  // dead descriptor must not keep the loop busy.
  const double cpu0 = tptest::SelfCpuSeconds();
  fw::testing::RunEventLoopFor(5000);
  const double cpu = tptest::SelfCpuSeconds() - cpu0;
  std::cout << "after the device vanished: " << errors << " error event(s), " << cpu << " s CPU over 5 s\n";
  EXPECT_EQ(errors, 1) << "a vanished device is one error, not a storm";
  EXPECT_LT(cpu, 0.5) << "the process spins after the device vanished";

  // The half record is written whole once its deadline passes.
  ASSERT_TRUE(tptest::RunUntil([] { return App()->buffer().empty(); }, 15000)) << tptest::Printable(App()->buffer());
  tptest::CallFolder got = tptest::ReadCallFolder(calls);
  std::vector<std::string> contents;
  for (auto& f : got.files) contents.push_back(f.content);
  EXPECT_EQ(contents, (std::vector<std::string>{"whole record before", "half a rec"}));
  EXPECT_EQ(errors, 1);
}

}  // namespace
