#pragma once
#include "framework/Event.h"

namespace fw {

// Mode 0 off, 1 one Action one Period later, 2 an Action every Period.
// A new timer is off. Writing mode 1 to a timer already armed for one
// action keeps its wait: a stream of arrivals cannot postpone it forever.
class Timer : public Object {
 public:
  static constexpr Int32 ModeOff = 0, ModeSingle = 1, ModeMultiple = 2;
  Timer();
  ~Timer() override;
  Int32 Period() const;
  void Period(Int32 ms);
  Int32 Mode() const;
  void Mode(Int32 mode);
  void Reset();  // restarts the wait of an armed timer

  Event<void()> Action{this, "Action"};

  class Backing;

 private:
  std::unique_ptr<Backing> b_;
};

}  // namespace fw
