// The test build's side of framework/Seams.h.
//
// A modal is answered without being shown by a test in this process, or (for
// a test driving the program from outside) when TALLYPOINT_MODAL_LOG names a
// file, to which it appends one line. The wall clock can be stepped in
// process. TALLYPOINT_SERIAL_ENUMERATION=0 leaves the platform's ports out,
// so that a test can stand on a machine with no serial ports of its own.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>

#include "framework/Seams.h"
#include "framework/Testing.h"

namespace fw {
namespace {

// Set by a test for every dialog and date of its process.
std::function<ModalAnswer(const ModalRequest&)>& Answerer() {
  static std::function<ModalAnswer(const ModalRequest&)> answerer;
  return answerer;
}

std::atomic<double> wallClockShift{0.0};

String OneLine(const String& s) {
  String out;
  for (char c : s) {
    switch (c) {
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace

namespace seams {

std::optional<ModalAnswer> AnswerWithoutShowing(const ModalRequest& req) {
  if (Answerer()) return Answerer()(req);
  const char* log = std::getenv("TALLYPOINT_MODAL_LOG");
  if (!log || !*log) return std::nullopt;
  std::ofstream out(log, std::ios::app | std::ios::binary);
  out << req.kind << '\t' << OneLine(req.message) << '\n';
  out.flush();
  if (!out) std::fprintf(stderr, "could not append to the modal log %s\n", log);
  return ModalAnswer::Action;
}

double WallClockSeconds() {
  timespec wall{};
  clock_gettime(CLOCK_REALTIME, &wall);
  return static_cast<double>(wall.tv_sec) + static_cast<double>(wall.tv_nsec) / 1e9 +
         wallClockShift.load(std::memory_order_relaxed);
}

bool PlatformSerialPortsListed() {
  const char* env = std::getenv("TALLYPOINT_SERIAL_ENUMERATION");
  return !env || String(env) != "0";
}

}  // namespace seams

namespace testing {

void SetModalAnswerer(std::function<ModalAnswer(const ModalRequest&)> answerer) { Answerer() = std::move(answerer); }
void ClearModalAnswerer() { Answerer() = nullptr; }
void ShiftWallClock(double seconds) { wallClockShift.store(seconds, std::memory_order_relaxed); }

}  // namespace testing
}  // namespace fw
