#pragma once
// Every framework object is reference-counted and reached through Ref<T>.
// Using a nil Ref raises NilObjectException, which the event dispatch hands to
// the unhandled-exception routine instead of crashing the process.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace fw {

using String = std::string;  // raw bytes, never re-encoded
using Int32 = std::int32_t;

class RuntimeException : public std::runtime_error {
 public:
  explicit RuntimeException(const std::string& what) : std::runtime_error(what) {}
  virtual const char* Name() const { return "RuntimeException"; }
};

class NilObjectException : public RuntimeException {
 public:
  explicit NilObjectException(const std::string& what = "nil object used") : RuntimeException(what) {}
  const char* Name() const override { return "NilObjectException"; }
};

class IllegalCastException : public RuntimeException {
 public:
  explicit IllegalCastException(const std::string& what) : RuntimeException(what) {}
  const char* Name() const override { return "IllegalCastException"; }
};

// A file or device operation that failed (for instance a call file that could
// not be committed to disk).
class IOException : public RuntimeException {
 public:
  explicit IOException(const std::string& what) : RuntimeException(what) {}
  const char* Name() const override { return "IOException"; }
};

struct ClassRecord;
class EventBase;

class Object : public std::enable_shared_from_this<Object> {
 public:
  Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  virtual ~Object() = default;

  // The record this object was created from (set by New<T>); null for
  // objects made outside the runtime.
  const ClassRecord* Record() const { return record_; }
  // The registered class name, such as "Window1.Window1".
  String ClassName() const;
  bool IsA(const String& className) const;

  // Events are found by name, for delegates wired at run time.
  EventBase* FindEvent(const String& name) const;

 private:
  friend class EventBase;
  friend void AttachRecord(Object&, const ClassRecord*);
  const ClassRecord* record_ = nullptr;
  std::vector<EventBase*> events_;
};

// A shared reference that raises NilObjectException when a nil one is used.
template <class T>
class Ref {
 public:
  Ref() = default;
  Ref(std::nullptr_t) {}
  Ref(std::shared_ptr<T> p) : p_(std::move(p)) {}
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  Ref(const Ref<U>& other) : p_(other.shared()) {}

  T* operator->() const { return &Deref(); }
  T& operator*() const { return Deref(); }
  T* get() const { return p_.get(); }
  const std::shared_ptr<T>& shared() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  bool IsNil() const { return p_ == nullptr; }

  friend bool operator==(const Ref& a, const Ref& b) { return a.p_ == b.p_; }
  friend bool operator==(const Ref& a, std::nullptr_t) { return a.p_ == nullptr; }

 private:
  T& Deref() const {
    if (!p_) throw NilObjectException();
    return *p_;
  }
  std::shared_ptr<T> p_;
};

// `self` as a Ref, for objects that hand themselves out.
template <class T>
Ref<T> RefTo(T* self) {
  if (!self) return nullptr;
  return Ref<T>(std::dynamic_pointer_cast<T>(self->shared_from_this()));
}

// Checked downcast: raises IllegalCastException when obj is not a T.
// A nil obj stays nil.
template <class T, class U>
Ref<T> RuntimeCheckCast(const Ref<U>& obj) {
  if (!obj) return nullptr;
  auto p = std::dynamic_pointer_cast<T>(obj.shared());
  if (!p) throw IllegalCastException("object of class " + obj->ClassName() + " is not the expected class");
  return Ref<T>(p);
}

}  // namespace fw
