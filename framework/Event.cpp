#include "framework/Event.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
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

// Unambiguous: decoding gives back exactly the bytes of s.
String Escaped(const String& s, bool parenToo) {
  static const char hex[] = "0123456789ABCDEF";
  String out;
  out.reserve(s.size());
  for (char ch : s) {
    auto c = static_cast<unsigned char>(ch);
    if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20 || c >= 0x7f || (parenToo && c == ')')) {
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 0xf];
    } else {
      out += ch;
    }
  }
  return out;
}

// What stays the same when one failure repeats: a missing folder makes the
// message name a new file each time, so file paths and numbers do not count.
String RepeatKey(const String& kind, const String& where, const String& message) {
  String key = kind + "\n" + where + "\n";
  for (std::size_t i = 0; i < message.size();) {
    char c = message[i];
    bool pathStart = c == '/' && (i == 0 || std::isspace(static_cast<unsigned char>(message[i - 1])) ||
                                  message[i - 1] == '(' || message[i - 1] == '"' || message[i - 1] == '\'');
    if (pathStart) {
      key += '/';
      while (i < message.size() && !std::isspace(static_cast<unsigned char>(message[i]))) ++i;
    } else if (std::isdigit(static_cast<unsigned char>(c))) {
      key += '#';
      while (i < message.size() && std::isdigit(static_cast<unsigned char>(message[i]))) ++i;
    } else {
      key += c;
      ++i;
    }
  }
  return key;
}

// One write, so that the line is not interleaved with other output.
void WriteReport(const String& line) {
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
  // 1000th ... repeat, until a different failure comes.
  static String lastKey;
  static long repeats = 0;
  String key = RepeatKey(kind, where, e.what());
  if (key == lastKey) {
    ++repeats;
    bool decade = true;
    for (long r = repeats; r > 1; r /= 10)
      if (r % 10 != 0) decade = false;
    if (repeats < 10 || !decade) return;
    line += " (repeated " + std::to_string(repeats) + " times)";
  } else {
    lastKey = std::move(key);
    repeats = 0;
  }
  WriteReport(line + "\n");
}

void ReportUnsavedText(const String& what, const String& why, const String& text, const String& where) {
  ++unhandledCount;
  String line = "TallyPoint: unhandled IOException";
  if (!where.empty()) line += " in " + OneLine(where);
  line += ": " + OneLine(what) + " (" + Escaped(why, true) + "): " + Escaped(text, false) + "\n";
  WriteReport(line);
}

int UnhandledExceptionCount() { return unhandledCount; }

}  // namespace fw
