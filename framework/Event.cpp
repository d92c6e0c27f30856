#include "framework/Event.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "framework/Runtime.h"
#include "framework/qt/RuntimeInternal.h"

namespace fw {

namespace {
int unhandledCount = 0;

// One line per report: control bytes in a message would break it up.
String OneLine(String s) {
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  return s;
}
}  // namespace

EventBase::EventBase(Object* owner, String name, String signature)
    : owner_(owner), name_(std::move(name)), signature_(std::move(signature)) {
  if (owner_) owner_->events_.push_back(this);
}

EventBase::~EventBase() {
  if (!owner_) return;
  auto& v = owner_->events_;
  v.erase(std::remove(v.begin(), v.end(), this), v.end());
}

void EventBase::InstallAny(std::shared_ptr<DelegateBase> handler) {
  if (handler && handler->SignatureText() != signature_) {
    throw RuntimeException("cannot install " + handler->OperationName() + " as handler of event " + name_ +
                           ": the event has signature \"" + signature_ + "\", the handler \"" +
                           handler->SignatureText() + "\"");
  }
  handler_ = std::move(handler);
}

void RuntimeUnhandledException(const std::exception& e, const String& where) {
  ++unhandledCount;
  String kind;
  if (auto* re = dynamic_cast<const RuntimeException*>(&e)) kind = re->Name();
  else kind = detail::Demangled(typeid(e));
  String line = "TallyPoint: unhandled " + kind;
  if (!where.empty()) line += " in " + OneLine(where);
  line += ": " + OneLine(e.what());
  // A failure that repeats every tick (a folder gone for a day) would flood
  // standard error: the first report is written, then only the 10th, 100th,
  // 1000th ... repeat, until a different report comes.
  static String lastLine;
  static long repeats = 0;
  if (line == lastLine) {
    ++repeats;
    bool decade = true;
    for (long r = repeats; r > 1; r /= 10)
      if (r % 10 != 0) decade = false;
    if (repeats < 10 || !decade) return;
    line += " (repeated " + std::to_string(repeats) + " times)";
  } else {
    lastLine = line;
    repeats = 0;
  }
  line += "\n";
  // One write, so that the line is not interleaved with other output.
  const char* p = line.data();
  size_t left = line.size();
  while (left > 0) {
    ssize_t n = ::write(STDERR_FILENO, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
}

int UnhandledExceptionCount() { return unhandledCount; }

}  // namespace fw
