#include <gtest/gtest.h>

#include <cmath>
#include <ctime>

#include "framework/Date.h"

using namespace fw;

namespace {

double LocalMoment(int y, int mo, int d, int h, int mi, int s) {
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  tm.tm_isdst = -1;
  return static_cast<double>(std::mktime(&tm));
}

struct Fields {
  Int32 y, mo, d, h, mi, s;
  friend bool operator==(const Fields&, const Fields&) = default;
};
Fields Of(const Date& d) { return {d.Year(), d.Month(), d.Day(), d.Hour(), d.Minute(), d.Second()}; }
std::ostream& operator<<(std::ostream& o, const Fields& f) {
  return o << f.y << "-" << f.mo << "-" << f.d << " " << f.h << ":" << f.mi << ":" << f.s;
}

TEST(Date, NewDateHoldsTheCurrentMomentWithFractions) {
  timespec before{}, after{};
  clock_gettime(CLOCK_REALTIME, &before);
  Date d;
  clock_gettime(CLOCK_REALTIME, &after);
  double b = before.tv_sec + before.tv_nsec / 1e9, a = after.tv_sec + after.tv_nsec / 1e9;
  EXPECT_GE(d.TotalSeconds(), b - 1e-6);
  EXPECT_LE(d.TotalSeconds(), a + 1e-6);
  // The fields are local time, as the clock on the wall shows it.
  std::time_t t = static_cast<std::time_t>(std::floor(d.TotalSeconds()));
  std::tm tm{};
  localtime_r(&t, &tm);
  EXPECT_EQ(Of(d), (Fields{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec}));
}

TEST(Date, MovingTotalSecondsMovesTheFields) {
  struct Row {
    Fields start;
    double delta;
    Fields expected;
  };
  const Row rows[] = {
      {{2024, 3, 5, 9, 4, 3}, 10, {2024, 3, 5, 9, 4, 13}},
      {{2024, 3, 5, 9, 4, 55}, 10, {2024, 3, 5, 9, 5, 5}},
      {{2023, 12, 31, 23, 59, 55}, 10, {2024, 1, 1, 0, 0, 5}},
      {{2024, 2, 28, 12, 0, 0}, 86400, {2024, 2, 29, 12, 0, 0}},  // a leap day
      {{2024, 3, 5, 9, 4, 3}, 0.75, {2024, 3, 5, 9, 4, 3}},       // a fraction does not round up
      {{2024, 3, 5, 9, 4, 3}, -0.25, {2024, 3, 5, 9, 4, 2}},      // nor truncate toward zero
  };
  for (const auto& r : rows) {
    Date d;
    d.TotalSeconds(LocalMoment(r.start.y, r.start.mo, r.start.d, r.start.h, r.start.mi, r.start.s));
    EXPECT_EQ(Of(d), r.start);
    d.TotalSeconds(d.TotalSeconds() + r.delta);
    EXPECT_EQ(Of(d), r.expected) << "from " << r.start << " by " << r.delta;
  }
}

TEST(Date, CompareSaysWhichIsLater) {
  Date deadline, now;
  now.TotalSeconds(1'700'000'000.0);
  deadline.TotalSeconds(now.TotalSeconds() + 10);
  EXPECT_LT(now.Compare(deadline), 0);
  EXPECT_GT(deadline.Compare(now), 0);
  now.TotalSeconds(deadline.TotalSeconds());
  EXPECT_EQ(now.Compare(deadline), 0);  // exactly on the deadline is not later
  now.TotalSeconds(deadline.TotalSeconds() + 0.001);
  EXPECT_GT(now.Compare(deadline), 0);
}

TEST(Date, AbsurdSecondsGiveFieldsWithoutCrashing) {
  Date d;
  d.TotalSeconds(std::nan(""));
  EXPECT_GE(d.Year(), 1969);
  d.TotalSeconds(1e300);
  EXPECT_GE(d.Month(), 1);
}

}  // namespace
