#pragma once
// Waiting with a deadline: for what another process or thread does, by
// looking again now and then; for what happens on this thread's event loop,
// by running the loop.
#include <chrono>
#include <functional>

namespace tptest {

using namespace std::chrono_literals;
using std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

// Checks cond every step until it holds or limit has passed; returns cond().
bool WaitFor(const std::function<bool()>& cond, milliseconds limit, milliseconds step = 20ms);

// Runs the event loop until cond holds or timeoutMs passed; returns cond().
bool RunUntil(const std::function<bool()>& cond, int timeoutMs = 5000);
// Runs the event loop for ms with nothing of the caller's own to do.
void RunFor(int ms);

inline double SecondsSince(SteadyClock::time_point t) {
  return std::chrono::duration<double>(SteadyClock::now() - t).count();
}

}  // namespace tptest
