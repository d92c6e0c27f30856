#pragma once
// Property blocks: for each property its name, one space, then its value,
// whose width follows from the property's type: Int32 4 bytes big-endian
// signed, Boolean 1 byte, colour 3 bytes (red, green, blue), string a 4-byte
// big-endian byte length and that many UTF-8 bytes. No count, no terminator.

#include <initializer_list>

#include "framework/Runtime.h"

namespace fw {

// One entry of a layout table, typed by its value.
struct Prop {
  Prop(const char* n, Int32 v) : name(n), value(v) {}
  Prop(const char* n, bool v) : name(n), value(v) {}
  Prop(const char* n, Color v) : name(n), value(v) {}
  Prop(const char* n, const char* v) : name(n), value(String(v)) {}
  Prop(const char* n, String v) : name(n), value(std::move(v)) {}
  String name;
  PropValue value;
};
using PropList = std::vector<Prop>;

// Concatenation of two lists, for common properties followed by own ones.
PropList operator+(PropList a, const PropList& b);

String EncodePropertyBlock(const PropList& props);

// Applies a block to obj in block order. A block that names a property the
// object's class lacks, gives a value of the wrong width for its type, or
// ends inside a value is rejected with a RuntimeException naming the
// property and the byte offset; nothing of a rejected block is applied.
void _SetProperties(Ref<Object> obj, const String& block);

}  // namespace fw
