#pragma once
#include "framework/Serial.h"

// The serial line the telephone system prints on.
class customPort : public fw::Serial {
 public:
  static fw::ClassRecord Record();
  void Event_DataAvailable();
  void Event_LineStateChanged(std::vector<fw::Int32> states);
  void Event_Error();
};
