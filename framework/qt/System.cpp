#include "framework/System.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSerialPortInfo>
#include <QTimer>
#include <cstdlib>

#include "framework/Runtime.h"
#include "framework/Seams.h"

namespace fw {

namespace {

// Callers ask for the count before every pass of a lookup loop, and the
// platform's enumeration walks sysfs each time. The list is therefore kept
// for the rest of the current event-loop turn (and never beyond a second,
// should no loop be running), so each lookup sees one consistent list.
struct EnumeratedPorts {
  std::vector<String> paths;
  bool valid = false;
  QElapsedTimer age;
};

EnumeratedPorts& Cache() {
  static EnumeratedPorts cache;
  return cache;
}

const std::vector<String>& Enumerated() {
  static const std::vector<String> none;
  if (!seams::PlatformSerialPortsListed()) return none;
  auto& c = Cache();
  if (c.valid && c.age.isValid() && c.age.elapsed() < 1000) return c.paths;
  c.paths.clear();
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
    c.paths.push_back(info.systemLocation().toStdString());
  c.valid = true;
  c.age.start();
  if (QCoreApplication::instance()) QTimer::singleShot(0, QCoreApplication::instance(), [] { Cache().valid = false; });
  return c.paths;
}

// Read at every call, so that a test (or the user) can change it at run time.
std::vector<String> ExtraPorts() {
  std::vector<String> out;
  const char* env = std::getenv("TALLYPOINT_SERIAL_PORTS");
  if (!env) return out;
  String list(env);
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(':', start);
    if (end == String::npos) end = list.size();
    if (end > start) out.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

}  // namespace

Int32 System::SerialPortCount() {
  return static_cast<Int32>(Enumerated().size() + ExtraPorts().size());
}

Ref<fw::SerialPort> System::SerialPort(Int32 index) {
  if (index < 0) return nullptr;
  const auto& enumerated = Enumerated();
  String path;
  if (static_cast<size_t>(index) < enumerated.size()) {
    path = enumerated[static_cast<size_t>(index)];
  } else {
    const auto extra = ExtraPorts();
    const size_t i = static_cast<size_t>(index) - enumerated.size();
    if (i >= extra.size()) return nullptr;
    path = extra[i];
  }
  auto port = std::make_shared<fw::SerialPort>(path);
  if (const ClassRecord* rec = FindClass(std::type_index(typeid(fw::SerialPort)))) AttachRecord(*port, rec);
  return Ref<fw::SerialPort>(port);
}

}  // namespace fw
