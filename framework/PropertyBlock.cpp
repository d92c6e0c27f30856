#include "framework/PropertyBlock.h"

namespace fw {
namespace {

void PutInt32(String& out, Int32 v) {
  auto u = static_cast<std::uint32_t>(v);
  out += static_cast<char>((u >> 24) & 0xFF);
  out += static_cast<char>((u >> 16) & 0xFF);
  out += static_cast<char>((u >> 8) & 0xFF);
  out += static_cast<char>(u & 0xFF);
}

std::uint32_t GetUInt32(const String& s, std::size_t at) {
  auto b = [&](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + i])); };
  return (b(0) << 24) | (b(1) << 16) | (b(2) << 8) | b(3);
}

bool IsNameChar(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '.';
}

const char* TypeText(PropType t) {
  switch (t) {
    case PropType::Int32: return "Int32";
    case PropType::Boolean: return "Boolean";
    case PropType::Color: return "Color";
    case PropType::String: return "String";
  }
  return "?";
}

PropType TypeOf(const PropValue& v) {
  switch (v.index()) {
    case 0: return PropType::Int32;
    case 1: return PropType::Boolean;
    case 2: return PropType::Color;
    default: return PropType::String;
  }
}

[[noreturn]] void Reject(const String& className, const String& what, std::size_t offset) {
  throw RuntimeException("property block for " + (className.empty() ? String("an object") : className) + ": " +
                         what + " at byte offset " + std::to_string(offset) + "; nothing applied");
}

}  // namespace

PropList operator+(PropList a, const PropList& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

String EncodePropertyBlock(const PropList& props) {
  String out;
  for (const Prop& p : props) {
    out += p.name;
    out += ' ';
    switch (TypeOf(p.value)) {
      case PropType::Int32: PutInt32(out, std::get<Int32>(p.value)); break;
      case PropType::Boolean: out += static_cast<char>(std::get<bool>(p.value) ? 1 : 0); break;
      case PropType::Color: {
        const Color& c = std::get<Color>(p.value);
        out += static_cast<char>(c.red);
        out += static_cast<char>(c.green);
        out += static_cast<char>(c.blue);
        break;
      }
      case PropType::String: {
        const String& s = std::get<String>(p.value);
        PutInt32(out, static_cast<Int32>(s.size()));
        out += s;
        break;
      }
    }
  }
  return out;
}

void _SetProperties(Ref<Object> obj, const String& block) {
  Object& target = *obj;  // nil raises
  const ClassRecord* rec = target.Record();
  const String className = rec ? rec->name : String();
  if (!rec) throw RuntimeException("property block for an object made outside the runtime; nothing applied");

  // Decode everything before touching the object, so a bad block changes nothing.
  std::vector<std::pair<const PropertyInfo*, PropValue>> decoded;
  const PropertyInfo* previous = nullptr;
  std::size_t previousAt = 0;
  std::size_t at = 0;
  while (at < block.size()) {
    const std::size_t nameAt = at;
    std::size_t end = at;
    while (end < block.size() && IsNameChar(static_cast<unsigned char>(block[end]))) ++end;
    const bool nameOk = end > at && end < block.size() && block[end] == ' ';
    if (!nameOk) {
      // The bytes after a value do not start a name: that value was longer
      // than its type allows.
      if (end == block.size())
        Reject(className, "block ends inside the name \"" + block.substr(at, end - at) + "\"", nameAt);
      if (previous)
        Reject(className, "value of " + previous->name + " (" + TypeText(previous->type) + ") has the wrong width",
               previousAt);
      Reject(className, "no property name", nameAt);
    }
    const String name = block.substr(at, end - at);
    const PropertyInfo* info = rec->FindProperty(name);
    if (!info) {
      String what = "unknown property \"" + name + "\"";
      if (previous)
        what += " at byte offset " + std::to_string(nameAt) + ", unless the value of " + previous->name + " (" +
                TypeText(previous->type) + ") before it has the wrong width, starting";
      Reject(className, what, previous ? previousAt : nameAt);
    }
    at = end + 1;
    const std::size_t valueAt = at;
    const std::size_t left = block.size() - at;
    auto need = [&](std::size_t n) {
      if (left < n)
        Reject(className, "block ends inside the value of " + name + " (" + TypeText(info->type) + ")", valueAt);
    };
    PropValue value;
    switch (info->type) {
      case PropType::Int32:
        need(4);
        value = static_cast<Int32>(GetUInt32(block, at));
        at += 4;
        break;
      case PropType::Boolean: {
        need(1);
        auto b = static_cast<unsigned char>(block[at]);
        if (b > 1) Reject(className, "value of " + name + " (Boolean) has the wrong width", valueAt);
        value = b == 1;
        at += 1;
        break;
      }
      case PropType::Color:
        need(3);
        value = Color{static_cast<std::uint8_t>(block[at]), static_cast<std::uint8_t>(block[at + 1]),
                      static_cast<std::uint8_t>(block[at + 2])};
        at += 3;
        break;
      case PropType::String: {
        need(4);
        const std::uint32_t len = GetUInt32(block, at);
        if (len > left - 4)
          Reject(className, "block ends inside the value of " + name + " (String of " + std::to_string(len) + " bytes)",
                 valueAt);
        value = block.substr(at + 4, len);
        at += 4 + len;
        break;
      }
    }
    decoded.emplace_back(info, std::move(value));
    previous = info;
    previousAt = valueAt;
  }

  for (auto& [info, value] : decoded) info->set(target, value);
}

}  // namespace fw
