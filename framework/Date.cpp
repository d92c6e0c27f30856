#include "framework/Date.h"

#include <cmath>
#include <ctime>
#include <limits>
#include <mutex>

#include "framework/Seams.h"

namespace fw {

namespace {

// Reading jitter and the slewing of time synchronisation move the wall clock
// against the monotonic one only slowly; a change beyond this is a step.
constexpr double kStepSeconds = 0.1;

double Seconds(const timespec& ts) { return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9; }

struct Reading {
  double wall;
  double offset;  // wall minus monotonic, NaN when unknown
};

Reading Now() {
  Reading r{seams::WallClockSeconds(), std::numeric_limits<double>::quiet_NaN()};
  timespec mono{};
  // The boot-time clock counts a suspend too, as the wall clock does.
  if (clock_gettime(CLOCK_BOOTTIME, &mono) != 0) return r;
  const double measured = r.wall - Seconds(mono);
  // One offset for all dates taken between steps, so that they compare
  // exactly by their wall-clock values, as they always did.
  static std::mutex mutex;
  static double current = std::numeric_limits<double>::quiet_NaN();
  std::lock_guard<std::mutex> lock(mutex);
  if (!(std::fabs(measured - current) <= kStepSeconds)) current = measured;
  r.offset = current;
  return r;
}

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
  const Reading now = Now();
  seconds_ = now.wall;
  clockOffset_ = now.offset;
}

double Date::TotalSeconds() const { return seconds_; }
void Date::TotalSeconds(double seconds) {
  seconds_ = seconds;
  // A deadline is written as "now plus so much": it belongs to the wall
  // clock as it stands at this write, whatever it was when the Date was made.
  clockOffset_ = Now().offset;
}

Int32 Date::Year() const { return Local(seconds_).tm_year + 1900; }
Int32 Date::Month() const { return Local(seconds_).tm_mon + 1; }
Int32 Date::Day() const { return Local(seconds_).tm_mday; }
Int32 Date::Hour() const { return Local(seconds_).tm_hour; }
Int32 Date::Minute() const { return Local(seconds_).tm_min; }
Int32 Date::Second() const { return Local(seconds_).tm_sec; }

int Date::Compare(const Date& other) const {
  double mine = seconds_, theirs = other.seconds_;
  // Taken on either side of a clock step: compare on the monotonic time line.
  if (!std::isnan(clockOffset_) && !std::isnan(other.clockOffset_) && clockOffset_ != other.clockOffset_) {
    mine -= clockOffset_;
    theirs -= other.clockOffset_;
  }
  if (mine > theirs) return 1;
  if (mine < theirs) return -1;
  return 0;
}

}  // namespace fw
