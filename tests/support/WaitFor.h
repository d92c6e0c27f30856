#pragma once
// Waiting with a deadline for what another process or thread does. The
// program's own event loop is pumped by RunUntil (InProcessProgram.h) instead.
#include <chrono>
#include <functional>

namespace tptest {

using namespace std::chrono_literals;
using std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

// Checks cond every step until it holds or limit has passed; returns cond().
bool WaitFor(const std::function<bool()>& cond, milliseconds limit, milliseconds step = 20ms);

inline double SecondsSince(SteadyClock::time_point t) {
  return std::chrono::duration<double>(SteadyClock::now() - t).count();
}

}  // namespace tptest
