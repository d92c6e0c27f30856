#pragma once
#include "framework/Object.h"

namespace fw {

// A moment in local time. A new Date holds the current moment.
class Date : public Object {
 public:
  Date();
  double TotalSeconds() const;  // seconds since the epoch, with fractions
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
};

}  // namespace fw
