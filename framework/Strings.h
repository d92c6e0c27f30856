#pragma once
// String functions over raw bytes. Positions count from 1; lengths are bytes.

#include "framework/Object.h"

namespace fw {

String Chr(int code);                       // one byte
String ReplaceAll(const String& source, const String& find, const String& replacement);  // one pass, left to right
Int32 InStr(const String& source, const String& find);  // 1-based, 0 when not found
Int32 InStr(Int32 start, const String& source, const String& find);
String Left(const String& s, Int32 count);
String Right(const String& s, Int32 count);
String Mid(const String& s, Int32 start);                // from start to the end
String Mid(const String& s, Int32 start, Int32 length);
Int32 Len(const String& s);
String Str(double value);                  // integers in plain decimal
String Str(Int32 value);
String Str(std::int64_t value);
double Val(const String& s);               // leading decimal number, 0 when none
String Format(double value, const String& pattern);  // "00": at least two digits
String NthField(const String& source, const String& separator, Int32 index);  // 1-based
Int32 CountFields(const String& source, const String& separator);
double Round(double value);
// Double to 32-bit integer: truncates toward zero, saturates at the limits,
// NaN gives 0. Never undefined behaviour.
Int32 ToInt32(double value);
// The framework's string equality: byte for byte, case-sensitive.
bool StrEqual(const String& a, const String& b);

}  // namespace fw
