#pragma once
// Delegates bind a target object and one of its operations, and carry the
// signature text of that operation ("(  )", "(  ) as Boolean",
// "( Int32, Int32 ) as Boolean"). Events accept only a delegate whose
// signature text matches their own.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/Object.h"

namespace fw {

class Graphics;
class TCPSocket;

// Type names as they appear in signature texts.
template <class T>
struct TypeName;
template <> struct TypeName<bool> { static constexpr const char* value = "Boolean"; };
template <> struct TypeName<Int32> { static constexpr const char* value = "Int32"; };
template <> struct TypeName<double> { static constexpr const char* value = "Double"; };
template <> struct TypeName<String> { static constexpr const char* value = "String"; };
template <> struct TypeName<std::vector<Int32>> { static constexpr const char* value = "Int32()"; };
template <> struct TypeName<Ref<Graphics>> { static constexpr const char* value = "Graphics"; };
template <> struct TypeName<Ref<TCPSocket>> { static constexpr const char* value = "TCPSocket"; };

template <class Sig>
struct Signature;
template <class R, class... A>
struct Signature<R(A...)> {
  static String Text() {
    String s = "( ";
    bool first = true;
    ((s += (first ? "" : ", "), s += TypeName<A>::value, first = false), ...);
    s += " )";
    if constexpr (!std::is_void_v<R>) s += String(" as ") + TypeName<R>::value;
    return s;
  }
};

class DelegateBase {
 public:
  DelegateBase(String signature, String operation)
      : signature_(std::move(signature)), operation_(std::move(operation)) {}
  virtual ~DelegateBase() = default;
  const String& SignatureText() const { return signature_; }
  // "Class.Operation", used when reporting an exception that escaped it.
  const String& OperationName() const { return operation_; }

 private:
  String signature_;
  String operation_;
};

template <class Sig>
class Delegate;

template <class R, class... A>
class Delegate<R(A...)> : public DelegateBase {
 public:
  Delegate(std::function<R(A...)> fn, String operation)
      : DelegateBase(Signature<R(A...)>::Text(), std::move(operation)), fn_(std::move(fn)) {}
  R Invoke(A... args) const { return fn_(std::forward<A>(args)...); }

 private:
  std::function<R(A...)> fn_;
};

// A delegate bound to target's operation. The target is held weakly, so a
// window that wires its controls to itself is not kept alive by them; calling
// a delegate whose target is gone raises NilObjectException.
template <class T, class R, class... A>
std::shared_ptr<Delegate<R(A...)>> NewDelegate(T* target, R (T::*op)(A...), String operation) {
  std::weak_ptr<Object> weak = target->weak_from_this();
  std::function<R(A...)> fn;
  if (weak.expired()) {
    fn = [target, op](A... a) -> R { return (target->*op)(std::forward<A>(a)...); };
  } else {
    fn = [weak, op](A... a) -> R {
      auto strong = weak.lock();
      if (!strong) throw NilObjectException("delegate target was released");
      return (dynamic_cast<T*>(strong.get())->*op)(std::forward<A>(a)...);
    };
  }
  return std::make_shared<Delegate<R(A...)>>(std::move(fn), std::move(operation));
}

}  // namespace fw
