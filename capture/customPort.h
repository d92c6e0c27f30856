#pragma once
#include "capture/SourceLines.h"
#include "framework/Serial.h"

// The serial line the telephone system prints on.
class customPort : public fw::Serial {
 public:
  static fw::ClassRecord Record();
  void Event_DataAvailable();
  void Event_LineStateChanged(std::vector<fw::Int32> states);
  void Event_Error();

  // The record this line is in the middle of, kept apart from the other inputs.
  capture::SourceLine line{"the serial line"};
};
