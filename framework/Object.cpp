#include "framework/Object.h"

#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>
#include <typeinfo>

#include "framework/Event.h"
#include "framework/Runtime.h"
#include "framework/RuntimeInternal.h"

namespace fw {

namespace detail {
String Demangled(const std::type_info& t) {
  int status = 0;
  char* name = abi::__cxa_demangle(t.name(), nullptr, nullptr, &status);
  String out = (status == 0 && name) ? name : t.name();
  std::free(name);
  return out;
}
}  // namespace detail

namespace {

// Objects made outside the runtime (FolderItem::FromPath, a Date on the stack)
// still answer by the record of their C++ class when it is registered.
const ClassRecord* RecordOf(const Object& o) {
  if (o.Record()) return o.Record();
  return FindClass(std::type_index(typeid(o)));
}
}  // namespace

String Object::ClassName() const {
  if (const ClassRecord* rec = RecordOf(*this)) return rec->name;
  return detail::Demangled(typeid(*this));
}

bool Object::IsA(const String& className) const {
  const ClassRecord* rec = RecordOf(*this);
  return rec ? rec->DerivesFrom(className) : false;
}

EventBase* Object::FindEvent(const String& name) const {
  auto it = std::find_if(events_.begin(), events_.end(), [&](EventBase* e) { return e->Name() == name; });
  return it == events_.end() ? nullptr : *it;
}

}  // namespace fw
