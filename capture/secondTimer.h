#pragma once
#include <string_view>
#include <vector>

#include "framework/Timer.h"

// The processing timer: takes the input buffer apart, one record per tick.
// Only a line too long for one call file is written otherwise: in pieces as
// it arrives, together with the lines waiting before it (see InputBuffer).
class secondTimer : public fw::Timer {
 public:
  static fw::ClassRecord Record();
  fw::String lastFileName;
  fw::Int32 suffix = 0;
  void Event_Action();
  void writeFile(const fw::String& s);
  // Writes records as call files at once, with one sync for them all, and
  // rebuilds the list once. A file that cannot be made is reported and ends
  // it, so that the rest keep their order. Returns whether each was written.
  std::vector<bool> writeFiles(const std::vector<std::string_view>& records);
};
