#include "framework/Strings.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace fw {

namespace {
using Size = String::size_type;

Int32 ClampLen(Size n) {
  return n > static_cast<Size>(std::numeric_limits<Int32>::max()) ? std::numeric_limits<Int32>::max()
                                                                    : static_cast<Int32>(n);
}

// Qt sets the C locale from the environment, so printf/strtod would write
// and read "3,5" on some desks; to_chars/from_chars never look at it.
String ToChars(double v, std::chars_format fmt, int precision) {
  char buf[512];
  auto r = std::to_chars(buf, buf + sizeof buf, v, fmt, precision);
  return r.ec == std::errc() ? String(buf, r.ptr) : String();
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
}  // namespace

String Chr(int code) { return String(1, static_cast<char>(static_cast<unsigned char>(code & 0xff))); }

String ReplaceAll(const String& source, const String& find, const String& replacement) {
  if (find.empty()) return source;
  String out;
  out.reserve(source.size());
  Size pos = 0;
  for (Size hit; (hit = source.find(find, pos)) != String::npos; pos = hit + find.size()) {
    out.append(source, pos, hit - pos);
    out += replacement;
  }
  out.append(source, pos, String::npos);
  return out;
}

Int32 InStr(const String& source, const String& find) { return InStr(1, source, find); }

Int32 InStr(Int32 start, const String& source, const String& find) {
  if (find.empty()) return 0;
  if (start < 1) start = 1;
  if (static_cast<Size>(start) > source.size()) return 0;
  Size hit = source.find(find, static_cast<Size>(start - 1));
  return hit == String::npos ? 0 : ClampLen(hit + 1);
}

String Left(const String& s, Int32 count) {
  if (count <= 0) return String();
  return s.substr(0, static_cast<Size>(count));
}

String Right(const String& s, Int32 count) {
  if (count <= 0) return String();
  Size n = static_cast<Size>(count);
  return n >= s.size() ? s : s.substr(s.size() - n);
}

String Mid(const String& s, Int32 start) {
  if (start < 1) start = 1;
  Size from = static_cast<Size>(start - 1);
  return from >= s.size() ? String() : s.substr(from);
}

String Mid(const String& s, Int32 start, Int32 length) {
  if (length < 0) return Mid(s, start);
  if (start < 1) start = 1;
  Size from = static_cast<Size>(start - 1);
  return from >= s.size() ? String() : s.substr(from, static_cast<Size>(length));
}

Int32 Len(const String& s) { return ClampLen(s.size()); }

String Str(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (value == std::trunc(value) && std::fabs(value) < 1e15) {
    if (value == 0) return "0";  // not "-0"
    return ToChars(value, std::chars_format::fixed, 0);
  }
  return ToChars(value, std::chars_format::general, 7);
}

String Str(Int32 value) { return std::to_string(value); }
String Str(std::int64_t value) { return std::to_string(value); }

double Val(const String& s) {
  const char* p = s.data();
  const char* end = p + s.size();
  while (p < end && IsSpace(*p)) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = (*p++ == '-');
  // Only a decimal number: no "inf", "nan" or hexadecimal.
  if (!(p < end && (IsDigit(*p) || (*p == '.' && p + 1 < end && IsDigit(p[1]))))) return 0;
  double v = 0;
  auto r = std::from_chars(p, end, v, std::chars_format::general);
  if (r.ec == std::errc::result_out_of_range) {
    // Overflow or underflow: tell them apart by the exponent's sign, as strtod does.
    const char* e = p;
    while (e < r.ptr && *e != 'e' && *e != 'E') ++e;
    bool tiny = e + 1 < r.ptr && e[1] == '-';
    v = tiny ? 0.0 : std::numeric_limits<double>::infinity();
  } else if (r.ec != std::errc()) {
    return 0;
  }
  return negative ? -v : v;
}

String Format(double value, const String& pattern) {
  if (std::isnan(value) || std::isinf(value)) return Str(value);
  // Literal text before the first and after the last placeholder is kept.
  Size first = pattern.find_first_of("0#.,");
  if (first == String::npos) return pattern;
  Size last = pattern.find_last_of("0#.,");
  String prefix = pattern.substr(0, first), suffix = pattern.substr(last + 1);
  String body = pattern.substr(first, last - first + 1);

  Size dot = body.find('.');
  String intPat = body.substr(0, dot);
  String fracPat = dot == String::npos ? String() : body.substr(dot + 1);
  int minInt = 0, minFrac = 0, maxFrac = 0;
  for (char c : intPat) minInt += (c == '0');
  for (char c : fracPat) {
    if (c == '0') ++minFrac, ++maxFrac;
    else if (c == '#') ++maxFrac;
  }
  bool group = intPat.find(',') != String::npos;

  double mag = std::fabs(value);
  // Halves round away from zero, as people do by hand.
  if (maxFrac == 0) mag = std::round(mag);
  String digits = ToChars(mag, std::chars_format::fixed, maxFrac);
  Size point = digits.find('.');
  String ip = digits.substr(0, point);
  String fp = point == String::npos ? String() : digits.substr(point + 1);
  while (static_cast<int>(fp.size()) > minFrac && !fp.empty() && fp.back() == '0') fp.pop_back();
  bool isZero = ip.find_first_not_of('0') == String::npos && fp.find_first_not_of('0') == String::npos;
  if (ip == "0") ip.clear();
  while (static_cast<int>(ip.size()) < minInt) ip.insert(ip.begin(), '0');
  if (group)
    for (int i = static_cast<int>(ip.size()) - 3; i > 0; i -= 3) ip.insert(static_cast<Size>(i), 1, ',');

  String out = prefix;
  if (value < 0 && !isZero) out += '-';
  out += ip;
  if (!fp.empty() || (dot != String::npos && minFrac > 0)) out += "." + fp;
  return out + suffix;
}

String NthField(const String& source, const String& separator, Int32 index) {
  if (index < 1) return String();
  if (separator.empty()) return index == 1 ? source : String();
  Size pos = 0;
  for (Int32 i = 1; i < index; ++i) {
    Size hit = source.find(separator, pos);
    if (hit == String::npos) return String();
    pos = hit + separator.size();
  }
  Size end = source.find(separator, pos);
  return source.substr(pos, end == String::npos ? String::npos : end - pos);
}

Int32 CountFields(const String& source, const String& separator) {
  if (separator.empty()) return 1;
  Int32 n = 1;
  for (Size pos = 0; (pos = source.find(separator, pos)) != String::npos; pos += separator.size())
    if (n < std::numeric_limits<Int32>::max()) ++n;
  return n;
}

double Round(double value) { return std::round(value); }

Int32 ToInt32(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return std::numeric_limits<Int32>::max();
  if (value <= -2147483648.0) return std::numeric_limits<Int32>::min();
  return static_cast<Int32>(value);  // in range: truncation is defined
}

bool StrEqual(const String& a, const String& b) { return a == b; }

}  // namespace fw
