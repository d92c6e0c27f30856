#include "framework/Event.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>
#include <unordered_set>

#include "framework/Runtime.h"
#include "framework/RuntimeInternal.h"

namespace fw {

namespace {
// Of the whole process, as standard error is.
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

// Where a path starts in a message: at a slash after a space, a parenthesis
// or a quote, or at the start. It runs to the next space.
bool PathStartsAt(const String& message, std::size_t i) {
  return message[i] == '/' && (i == 0 || std::isspace(static_cast<unsigned char>(message[i - 1])) ||
                               message[i - 1] == '(' || message[i - 1] == '"' || message[i - 1] == '\'');
}

// What stays the same when one failure repeats: a missing folder makes the
// message name a new file each time, so file paths and numbers do not count.
String RepeatKey(const String& kind, const String& where, const String& message) {
  String key = kind + "\n" + where + "\n";
  for (std::size_t i = 0; i < message.size();) {
    char c = message[i];
    if (PathStartsAt(message, i)) {
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

// True when every path in message names something that exists, and there is
// one. Such a failure (a call file that cannot be read) names the same
// files on the next tick, so each file is worth naming once; a failure that
// names what could not be made names a new file every tick.
bool NamesExistingFiles(const String& message) {
  bool any = false;
  for (std::size_t i = 0; i < message.size(); ++i) {
    if (!PathStartsAt(message, i)) continue;
    std::size_t end = i;
    while (end < message.size() && !std::isspace(static_cast<unsigned char>(message[end]))) ++end;
    String path = message.substr(i, end - i);
    while (path.size() > 1 && std::strchr(":;,.)'\"", path.back())) path.pop_back();
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return false;
    any = true;
    i = end;
  }
  return any;
}

// Standard error hears of a failure that repeats every tick (a folder gone
// for a day) once, then at its 10th, 100th, 1000th ... repeat, until a
// different failure comes. Within one failure, each distinct existing file
// it names is named once.
class RepeatFilter {
 public:
  // The suffix for the report's line, or false when it is held back.
  bool Pass(const String& key, const String& message, String& suffix) {
    if (key != lastKey_) {
      lastKey_ = key;
      repeats_ = 0;
      named_.clear();
      named_.insert(message);
      return true;
    }
    if (named_.size() < kMostNamed && !named_.count(message) && NamesExistingFiles(message)) {
      named_.insert(message);
      return true;
    }
    ++repeats_;
    for (long r = repeats_; r > 1; r /= 10)
      if (r % 10 != 0) return false;
    if (repeats_ < 10) return false;
    suffix = " (repeated " + std::to_string(repeats_) + " times)";
    return true;
  }

 private:
  static constexpr std::size_t kMostNamed = 1000;
  String lastKey_;
  long repeats_ = 0;
  std::unordered_set<String> named_;
};

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
  // One for the process's standard error; never destroyed, since a static
  // object's destructor may still report.
  static RepeatFilter& filter = *new RepeatFilter;
  String suffix;
  if (!filter.Pass(RepeatKey(kind, where, e.what()), e.what(), suffix)) return;
  line += suffix;
  WriteReport(line + "\n");
}

void ReportUnsavedText(const String& what, const String& why, const String& text, const String& where) {
  ++unhandledCount;
  String line = "TallyPoint: unhandled IOException";
  if (!where.empty()) line += " in " + OneLine(where);
  line += ": " + OneLine(what) + " (" + Escaped(why, true) + "): " + Escaped(text, false) + "\n";
  WriteReport(line);
}

void ReportFailure(const String& text) { WriteReport("TallyPoint: " + OneLine(text) + "\n"); }

int UnhandledExceptionCount() { return unhandledCount; }

}  // namespace fw
