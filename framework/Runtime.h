#pragma once
// The runtime: class records and their registration, object creation, the
// application object, the event loop and the end of the run.

#include <functional>
#include <typeindex>
#include <variant>

#include "framework/Event.h"

namespace fw {

class Application;

struct Color {
  std::uint8_t red = 0, green = 0, blue = 0;
  friend bool operator==(const Color&, const Color&) = default;
};
inline Color RGB(int r, int g, int b) {
  return Color{static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g), static_cast<std::uint8_t>(b)};
}

enum class PropType { Int32, Boolean, Color, String };
using PropValue = std::variant<Int32, bool, Color, String>;

// A property that property blocks may set.
struct PropertyInfo {
  String name;
  PropType type;
  std::function<void(Object&, const PropValue&)> set;
};

// A handler that a class hooks to an event of its superclass.
struct EventHook {
  String event;
  String operation;
  std::function<std::shared_ptr<DelegateBase>(Object&)> make;
};

struct ClassRecord {
  String name;
  String superName;  // empty for the root
  std::type_index type = typeid(void);
  std::vector<String> operations;  // own virtual operations, in slot order
  std::vector<PropertyInfo> properties;
  std::vector<EventHook> hooks;
  std::function<std::shared_ptr<Object>()> create;
  const ClassRecord* super = nullptr;  // resolved at registration

  // Searches this class and its superclasses.
  const PropertyInfo* FindProperty(const String& prop) const;
  bool DerivesFrom(const String& className) const;
};

// Builds a ClassRecord for C++ class T whose superclass (already registered
// or registered before it) is Base.
template <class T, class Base>
class ClassBuilder {
 public:
  ClassBuilder(String name, String superName) {
    rec_.name = std::move(name);
    rec_.superName = std::move(superName);
    rec_.type = typeid(T);
    if constexpr (std::is_default_constructible_v<T> && !std::is_abstract_v<T>)
      rec_.create = [] { return std::static_pointer_cast<Object>(std::make_shared<T>()); };
  }
  ClassBuilder& Operations(std::vector<String> ops) {
    rec_.operations = std::move(ops);
    return *this;
  }
  ClassBuilder& Property(String prop, PropType type, std::function<void(T&, const PropValue&)> set) {
    rec_.properties.push_back({std::move(prop), type, [set](Object& o, const PropValue& v) {
                                 set(dynamic_cast<T&>(o), v);
                               }});
    return *this;
  }
  template <class R, class... A>
  ClassBuilder& Hook(String event, R (T::*op)(A...), String operation) {
    String full = rec_.name + "." + operation;
    rec_.hooks.push_back({std::move(event), operation, [op, full](Object& o) {
                            return std::static_pointer_cast<DelegateBase>(
                                NewDelegate(&dynamic_cast<T&>(o), op, full));
                          }});
    return *this;
  }
  ClassRecord Build() { return std::move(rec_); }
  operator ClassRecord() { return Build(); }

 private:
  ClassRecord rec_;
};

// Registration. The framework's classes first, then the program's in the
// order it gives. Registering a name twice replaces nothing and raises.
void RegisterClass(ClassRecord record);
void RegisterFrameworkClasses();
const ClassRecord* FindClass(const String& name);
const ClassRecord* FindClass(std::type_index type);
// Attaches a record and installs the handlers its class chain hooks.
void AttachRecord(Object& obj, const ClassRecord* record);

// Object creation through the runtime: the object gets its class record and
// the event handlers its class hooks. Raises when T was never registered.
template <class T>
Ref<T> New() {
  const ClassRecord* rec = FindClass(std::type_index(typeid(T)));
  if (!rec) throw RuntimeException(String("class not registered: ") + typeid(T).name());
  auto obj = std::make_shared<T>();
  AttachRecord(*obj, rec);
  return Ref<T>(obj);
}

// Process phases, in order.
void RuntimeInit(int& argc, char** argv);
void _RunFrameworkInitialization(std::shared_ptr<Delegate<void()>> startup);
void _RuntimeInitExternalClasses();
void _InitPluginEntrypoints();
void _RuntimeRegisterAppObject(Ref<Application> app);
const Ref<Application>& _GetAppObject();
// Runs the event loop: raises the application's Open event first, then
// dispatches until the application quits.
void _RuntimeRun();
// Runs the exit hooks that modules registered, newest first.
void RegisterModuleExit(std::function<void()> hook);
void RuntimeModuleFinalization();
// The process's exit status.
int RuntimeExit();

// Number of exceptions reported by the unhandled-exception routine so far.
int UnhandledExceptionCount();

}  // namespace fw
