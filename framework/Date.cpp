#include "framework/Date.h"

#include <cmath>
#include <ctime>

namespace fw {

namespace {
std::tm Local(double seconds) {
  std::tm tm{};
  double whole = std::floor(seconds);
  // Out of time_t's range (or NaN): the epoch, rather than undefined behaviour.
  std::time_t t = (std::isfinite(whole) && std::fabs(whole) < 1e17) ? static_cast<std::time_t>(whole) : 0;
  if (!localtime_r(&t, &tm)) tm = std::tm{};
  return tm;
}
}  // namespace

Date::Date() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  seconds_ = static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double Date::TotalSeconds() const { return seconds_; }
void Date::TotalSeconds(double seconds) { seconds_ = seconds; }

Int32 Date::Year() const { return Local(seconds_).tm_year + 1900; }
Int32 Date::Month() const { return Local(seconds_).tm_mon + 1; }
Int32 Date::Day() const { return Local(seconds_).tm_mday; }
Int32 Date::Hour() const { return Local(seconds_).tm_hour; }
Int32 Date::Minute() const { return Local(seconds_).tm_min; }
Int32 Date::Second() const { return Local(seconds_).tm_sec; }

int Date::Compare(const Date& other) const {
  if (seconds_ > other.seconds_) return 1;
  if (seconds_ < other.seconds_) return -1;
  return 0;
}

}  // namespace fw
