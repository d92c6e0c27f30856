#pragma once
#include "framework/Timer.h"

// The processing timer: takes one record per tick out of the input buffer.
class secondTimer : public fw::Timer {
 public:
  static fw::ClassRecord Record();
  fw::String lastFileName;
  fw::Int32 suffix = 0;
  void Event_Action();
  void writeFile(const fw::String& s);
};
