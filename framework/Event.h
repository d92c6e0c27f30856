#pragma once
// An event of a framework object: a name, a signature text and at most one
// installed handler. Raising an event whose handler throws hands the
// exception to the unhandled-exception routine and lets the event loop go on;
// the event then yields its default result (False, 0, nil).

#include <exception>
#include <memory>

#include "framework/Delegate.h"

namespace fw {

// Reports an exception that escaped a handler (one line on standard error)
// and returns; the run goes on. A failure that repeats at the same place,
// whatever file or number its message names, is written the first time, then
// only at its 10th, 100th, 1000th ... repeat.
void RuntimeUnhandledException(const std::exception& e, const String& where);

// Reports bytes that exist nowhere else any more (a record that could not be
// written as the run ends), never held back as a repeat, as the line
//   TallyPoint: unhandled IOException in <where>: <what> (<why>): <text>
// The text is escaped so that its exact bytes can be recovered: a backslash
// as \\, every byte below 0x20 or from 0x7F as \xHH, any other byte as it is.
// <why> is escaped the same way and ')' in it as \x29, so the text is what
// follows the first "): " after <what>.
void ReportUnsavedText(const String& what, const String& why, const String& text, const String& where);

// Tells standard error of a failure that the run goes on from, every time,
// as the line "TallyPoint: <text>": what the user would otherwise see only on
// screen, which a copy run as a service does not have.
void ReportFailure(const String& text);

class EventBase {
 public:
  EventBase(Object* owner, String name, String signature);
  virtual ~EventBase();
  EventBase(const EventBase&) = delete;
  EventBase& operator=(const EventBase&) = delete;

  const String& Name() const { return name_; }
  const String& SignatureText() const { return signature_; }
  bool HasHandler() const { return handler_ != nullptr; }

  // Installs a handler whose signature text must equal the event's; a
  // mismatch raises RuntimeException naming the event and both signatures.
  void InstallAny(std::shared_ptr<DelegateBase> handler);

 protected:
  std::shared_ptr<DelegateBase> handler_;

 private:
  Object* owner_;
  String name_;
  String signature_;
};

template <class Sig>
class Event;

template <class R, class... A>
class Event<R(A...)> : public EventBase {
 public:
  Event(Object* owner, String name) : EventBase(owner, std::move(name), Signature<R(A...)>::Text()) {}

  void Install(std::shared_ptr<Delegate<R(A...)>> d) { InstallAny(std::move(d)); }

  R Raise(A... args) {
    auto h = std::static_pointer_cast<Delegate<R(A...)>>(handler_);  // keep alive while it runs
    if (!h) return R();
    try {
      return h->Invoke(std::forward<A>(args)...);
    } catch (const std::exception& e) {
      RuntimeUnhandledException(e, h->OperationName());
    } catch (...) {
      RuntimeUnhandledException(std::runtime_error("unknown exception"), h->OperationName());
    }
    return R();
  }
};

}  // namespace fw
