#include "support/WaitFor.h"

#include <thread>

namespace tptest {

bool WaitFor(const std::function<bool()>& cond, milliseconds limit, milliseconds step) {
  const auto end = SteadyClock::now() + limit;
  while (!cond()) {
    if (SteadyClock::now() >= end) return cond();
    std::this_thread::sleep_for(step);
  }
  return true;
}

}  // namespace tptest
