#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "framework/Strings.h"

using namespace fw;

namespace {

struct InStrRow {
  Int32 start;
  String source, find;
  Int32 expected;
};

TEST(Strings, InStrCountsFromOneAndGivesZeroWhenAbsent) {
  const InStrRow rows[] = {
      {1, "abc\r", "\r", 4},  // at the last byte
      {1, "\rabc", "\r", 1},  // at the first byte
      {1, "abc", "x", 0},
      {1, "", "\r", 0},
      {2, "abab", "ab", 3},   // start skips the first hit
      {3, "abab", "ab", 3},   // start on the hit itself
      {4, "abab", "ab", 0},   // too little left for the pattern
      {5, "abab", "b", 0},    // start past the end
      {0, "abab", "ab", 1},   // start below 1 counts from the first byte
      {1, "abc", "", 0},
      {1, String("a\0b", 3), String("\0", 1), 2},
  };
  for (const auto& r : rows)
    EXPECT_EQ(InStr(r.start, r.source, r.find), r.expected) << r.source << " / " << r.find << " from " << r.start;
  EXPECT_EQ(InStr("xyz\rq", "\r"), 4);
}

TEST(Strings, MidLeftRightStayInsideTheString) {
  const String s = "12345";
  EXPECT_EQ(Mid(s, 1), "12345");
  EXPECT_EQ(Mid(s, 5), "5");
  EXPECT_EQ(Mid(s, 6), "");
  EXPECT_EQ(Mid(s, 0), "12345");
  EXPECT_EQ(Mid(s, 2, 2), "23");
  EXPECT_EQ(Mid(s, 4, 10), "45");
  EXPECT_EQ(Mid(s, 3, 0), "");
  EXPECT_EQ(Mid(s, 6, 1), "");
  EXPECT_EQ(Mid(s, 2, -1), "2345");
  EXPECT_EQ(Left(s, 0), "");
  EXPECT_EQ(Left(s, -3), "");
  EXPECT_EQ(Left(s, 3), "123");
  EXPECT_EQ(Left(s, 9), "12345");
  EXPECT_EQ(Right(s, 2), "45");
  EXPECT_EQ(Right(s, 9), "12345");
  EXPECT_EQ(Right(s, 0), "");
  EXPECT_EQ(Len(String("a\0\xff", 3)), 3);
  // Splitting at a found position rebuilds the source exactly.
  const String buf = "rec1\rrest";
  Int32 cr = InStr(buf, "\r");
  EXPECT_EQ(Left(buf, cr - 1) + "\r" + Mid(buf, cr + 1), buf);
}

TEST(Strings, ReplaceAllMakesOnePassWithoutOverlap) {
  struct Row {
    String source, find, replacement, expected;
  };
  const Row rows[] = {
      {"\r\r\r", "\r\r", "\r", "\r\r"},  // a run of three merges once, left to right
      {"\r\r\r\r", "\r\r", "\r", "\r\r"},
      {"aaaa", "aa", "b", "bb"},
      {"aaa", "aa", "b", "ba"},
      {"aaa", "a", "aa", "aaaaaa"},  // a replacement holding the pattern is not rescanned
      {"a\nb\n", "\n", "\r", "a\rb\r"},
      {String("a\0b\0", 4), String("\0", 1), "", "ab"},
      {"abc", "", "x", "abc"},
      {"", "a", "b", ""},
      {"\xff\xfe", "\xfe", "-", "\xff-"},
  };
  for (const auto& r : rows) EXPECT_EQ(ReplaceAll(r.source, r.find, r.replacement), r.expected) << r.source;
}

TEST(Strings, ValReadsALeadingDecimalNumberAndNothingElse) {
  struct Row {
    String text;
    double expected;
  };
  const Row rows[] = {
      {"4", 4},          {"  12abc", 12},  {"\t7\r", 7},   {"-3.5", -3.5}, {"+2", 2},    {".5", 0.5},
      {"1e3", 1000},     {"2.", 2},        {"", 0},        {"abc", 0},     {"--4", 0},   {"0x10", 0},
      {"inf", 0},        {"nan", 0},       {"-", 0},       {".", 0},       {"1,5", 1},   {"007", 7},
      {"1e-999", 0},     {"12 34", 12},
  };
  for (const auto& r : rows) EXPECT_EQ(Val(r.text), r.expected) << "'" << r.text << "'";
  EXPECT_TRUE(std::isinf(Val("1e999")));
  EXPECT_LT(Val("-1e999"), 0);
}

TEST(Strings, ToInt32NeverOverflows) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Row {
    double value;
    Int32 expected;
  };
  const Row rows[] = {
      {0, 0},
      {3.99, 3},
      {-3.99, -3},
      {2147483647.0, 2147483647},
      {2147483647.9, 2147483647},
      {2147483648.0, 2147483647},
      {1e300, 2147483647},
      {inf, 2147483647},
      {-2147483648.0, -2147483647 - 1},
      {-2147483649.5, -2147483647 - 1},
      {-inf, -2147483647 - 1},
      {std::nan(""), 0},
  };
  for (const auto& r : rows) EXPECT_EQ(ToInt32(r.value), r.expected) << r.value;
  EXPECT_EQ(ToInt32(Val("99999999999")), 2147483647);
}

TEST(Strings, FormatPadsAndRoundsByPattern) {
  struct Row {
    double value;
    String pattern, expected;
  };
  const Row rows[] = {
      {5, "00", "05"},         {0, "00", "00"},         {12, "00", "12"},       {123, "00", "123"},
      {59, "00", "59"},        {-5, "00", "-05"},       {2.5, "0", "3"},        {-0.4, "0", "0"},
      {3.14159, "0.00", "3.14"}, {2, "0.00", "2.00"},   {2.5, "0.##", "2.5"},   {1234567, "#,##0", "1,234,567"},
      {999, "#,##0", "999"},   {7, "#", "7"},           {7, "x00y", "x07y"},
  };
  for (const auto& r : rows) EXPECT_EQ(Format(r.value, r.pattern), r.expected) << r.value << " " << r.pattern;
}

TEST(Strings, StrWritesPlainDecimalDigits) {
  EXPECT_EQ(Str(2024.0), "2024");
  EXPECT_EQ(Str(-0.0), "0");
  EXPECT_EQ(Str(0.5), "0.5");
  EXPECT_EQ(Str(1e14), "100000000000000");
  EXPECT_EQ(Str(Int32(-2147483647 - 1)), "-2147483648");
  EXPECT_EQ(Str(std::int64_t(12345678901)), "12345678901");
  EXPECT_EQ(Str(Int32(0)), "0");
}

TEST(Strings, NthFieldCountsFromOne) {
  struct Row {
    String source, sep;
    Int32 index;
    String expected;
  };
  const Row rows[] = {
      {"port\t/dev/ttyS0", "\t", 1, "port"},
      {"port\t/dev/ttyS0", "\t", 2, "/dev/ttyS0"},
      {"port\t/dev/ttyS0", "\t", 3, ""},
      {"port\t/dev/ttyS0", "\t", 0, ""},
      {"port\t/dev/ttyS0", "\t", -1, ""},
      {"a\t\tb", "\t", 2, ""},
      {"a\t\tb", "\t", 3, "b"},
      {"novalue", "\t", 1, "novalue"},
      {"novalue", "\t", 2, ""},
      {"a::b::c", "::", 3, "c"},
      {"", "\t", 1, ""},
  };
  for (const auto& r : rows) EXPECT_EQ(NthField(r.source, r.sep, r.index), r.expected) << r.source << " " << r.index;
  EXPECT_EQ(CountFields("a\tb\tc", "\t"), 3);
  EXPECT_EQ(CountFields("a", "\t"), 1);
  EXPECT_EQ(CountFields("a\t", "\t"), 2);
}

TEST(Strings, ChrGivesOneRawByteAndEqualityIsCaseSensitive) {
  EXPECT_EQ(Chr(13), "\r");
  EXPECT_EQ(Chr(0), String(1, '\0'));
  EXPECT_EQ(Chr(255), "\xff");
  EXPECT_EQ(Len(Chr(200)), 1);
  EXPECT_TRUE(StrEqual("/dev/ttyUSB0", "/dev/ttyUSB0"));
  EXPECT_FALSE(StrEqual("/dev/ttyUSB0", "/dev/ttyusb0"));
  EXPECT_FALSE(StrEqual("a", String("a\0", 2)));
  EXPECT_TRUE(StrEqual("", ""));
}

}  // namespace
