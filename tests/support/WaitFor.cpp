#include "support/WaitFor.h"

#include <thread>

#include "framework/Testing.h"

namespace tptest {

bool WaitFor(const std::function<bool()>& cond, milliseconds limit, milliseconds step) {
  const auto end = SteadyClock::now() + limit;
  while (!cond()) {
    if (SteadyClock::now() >= end) return cond();
    std::this_thread::sleep_for(step);
  }
  return true;
}

bool RunUntil(const std::function<bool()>& cond, int timeoutMs) {
  return fw::testing::RunEventLoopUntil(cond, timeoutMs);
}

void RunFor(int ms) { fw::testing::RunEventLoopFor(ms); }

}  // namespace tptest
