#pragma once
#include "framework/Object.h"

namespace fw {

// One serial port as the system lists it.
class SerialPort : public Object {
 public:
  SerialPort() = default;
  explicit SerialPort(String device) : device_(std::move(device)) {}
  String InputDriverName() const { return device_; }  // the device path, e.g. "/dev/ttyUSB0"
  String Name() const;                                 // the last path element

 private:
  String device_;
};

}  // namespace fw
