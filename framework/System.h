#pragma once
#include "framework/SerialPort.h"

namespace fw {

// The system's serial ports: the ports the platform enumerates, followed by
// the devices named in TALLYPOINT_SERIAL_PORTS (paths separated by ":"),
// which covers pseudo-terminals and virtual ports.
struct System {
  static Int32 SerialPortCount();
  static Ref<fw::SerialPort> SerialPort(Int32 index);  // zero-based; nil out of range
};

}  // namespace fw
