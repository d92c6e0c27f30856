#pragma once
#include "framework/Object.h"

namespace fw {

// A moment in local time. A new Date holds the current moment.
//
// Beside the wall-clock value a Date keeps where the wall clock stood against
// the machine's monotonic clock when the value was taken or last written.
// Two dates of this run are compared on the monotonic time line, so that a
// step of the wall clock (time synchronisation at boot, a user setting the
// clock) neither holds back nor hastens a deadline taken before it.
class Date : public Object {
 public:
  Date();
  double TotalSeconds() const;  // seconds since the epoch, with fractions
  // The value is taken as a moment of the wall clock as it stands now.
  void TotalSeconds(double seconds);
  Int32 Year() const;
  Int32 Month() const;
  Int32 Day() const;
  Int32 Hour() const;
  Int32 Minute() const;
  Int32 Second() const;
  // Greater than 0 when this is later than other, 0 when equal, less when earlier.
  int Compare(const Date& other) const;

 private:
  double seconds_;
  // Wall clock minus monotonic clock when seconds_ was set; NaN when the
  // monotonic clock could not be read.
  double clockOffset_;
};

}  // namespace fw
