// The system's port list: the platform's enumeration, then the devices named
// in TALLYPOINT_SERIAL_PORTS.
#include <gtest/gtest.h>

#include <QSerialPortInfo>
#include <cstdlib>

#include "framework/Runtime.h"
#include "framework/System.h"

namespace {

using fw::Int32;
using fw::System;

class ScopedPortsVariable {
 public:
  explicit ScopedPortsVariable(const char* value) {
    const char* old = std::getenv("TALLYPOINT_SERIAL_PORTS");
    had_ = old != nullptr;
    if (had_) old_ = old;
    Set(value);
  }
  ~ScopedPortsVariable() { Set(had_ ? old_.c_str() : nullptr); }
  ScopedPortsVariable(const ScopedPortsVariable&) = delete;
  ScopedPortsVariable& operator=(const ScopedPortsVariable&) = delete;
  static void Set(const char* value) {
    if (value) setenv("TALLYPOINT_SERIAL_PORTS", value, 1);
    else unsetenv("TALLYPOINT_SERIAL_PORTS");
  }

 private:
  bool had_ = false;
  std::string old_;
};

std::vector<std::string> Listed() {
  std::vector<std::string> out;
  for (Int32 i = 0; i < System::SerialPortCount(); ++i) out.push_back(System::SerialPort(i)->InputDriverName());
  return out;
}

std::vector<std::string> PlatformPorts() {
  std::vector<std::string> out;
  for (const auto& info : QSerialPortInfo::availablePorts()) out.push_back(info.systemLocation().toStdString());
  return out;
}

TEST(SerialPortList, NamedDevicesFollowTheEnumeratedOnesInOrderSkippingEmptyEntries) {
  struct Row {
    const char* variable;
    std::vector<std::string> extra;
  };
  const std::vector<Row> rows = {
      {nullptr, {}},
      {"", {}},
      {"/dev/pts/7", {"/dev/pts/7"}},
      {"/dev/pts/7:/tmp/virtual port:/dev/ttyV0", {"/dev/pts/7", "/tmp/virtual port", "/dev/ttyV0"}},
      {"::/dev/pts/3::/dev/pts/4:", {"/dev/pts/3", "/dev/pts/4"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.variable ? row.variable : "(unset)");
    ScopedPortsVariable env(row.variable);
    std::vector<std::string> expected = PlatformPorts();
    expected.insert(expected.end(), row.extra.begin(), row.extra.end());
    EXPECT_EQ(Listed(), expected);
  }
}

TEST(SerialPortList, VariableIsReadAgainAtEveryCall) {
  ScopedPortsVariable env("/dev/pts/1");
  const Int32 before = System::SerialPortCount();
  ScopedPortsVariable::Set("/dev/pts/1:/dev/pts/2");
  EXPECT_EQ(System::SerialPortCount(), before + 1);
  EXPECT_EQ(System::SerialPort(before)->InputDriverName(), "/dev/pts/2");
}

TEST(SerialPortList, IndexOutsideTheListGivesNil) {
  ScopedPortsVariable env("/dev/pts/9");
  const Int32 count = System::SerialPortCount();
  EXPECT_TRUE(System::SerialPort(count).IsNil());
  EXPECT_TRUE(System::SerialPort(-1).IsNil());
  EXPECT_FALSE(System::SerialPort(count - 1).IsNil());
}

TEST(SerialPortList, PortNameIsTheLastPathElement) {
  ScopedPortsVariable env("/dev/pts/12:ttyPlain");
  const Int32 count = System::SerialPortCount();
  EXPECT_EQ(System::SerialPort(count - 2)->Name(), "12");
  EXPECT_EQ(System::SerialPort(count - 1)->Name(), "ttyPlain");
}

TEST(SerialPortList, ListedPortsAreRuntimeObjects) {
  ScopedPortsVariable env("/dev/pts/5");
  auto port = System::SerialPort(System::SerialPortCount() - 1);
  EXPECT_EQ(port->ClassName(), "SerialPort");
  const fw::ClassRecord* rec = fw::FindClass("Serial");
  ASSERT_NE(rec, nullptr);
  EXPECT_EQ(rec->superName, "Object");
}

}  // namespace
