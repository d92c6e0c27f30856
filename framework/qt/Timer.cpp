#include "framework/Timer.h"

#include <QTimer>
#include <algorithm>

#include "framework/RuntimeInternal.h"

namespace fw {

class Timer::Backing {
 public:
  QTimer* timer = new QTimer;
  Int32 period = 1000;
  Int32 mode = ModeOff;

  void Arm() {
    timer->setSingleShot(mode == ModeSingle);
    // A zero period would spin the loop; a millisecond is the finest step anyway.
    timer->start(std::max<Int32>(period, 1));
  }
};

Timer::Timer() : b_(std::make_unique<Backing>()) {
  b_->timer->setTimerType(Qt::PreciseTimer);
  QObject::connect(b_->timer, &QTimer::timeout, [this] {
    auto keep = detail::KeepAlive(*this);
    if (b_->mode == ModeSingle) b_->mode = ModeOff;
    Action.Raise();
  });
}

Timer::~Timer() {
  b_->timer->stop();
  QObject::disconnect(b_->timer, nullptr, nullptr, nullptr);
  // The timer may be destroyed from inside its own timeout signal.
  b_->timer->deleteLater();
}

Int32 Timer::Period() const { return b_->period; }

void Timer::Period(Int32 ms) {
  b_->period = std::max<Int32>(ms, 0);
  if (b_->timer->isActive()) b_->Arm();
}

Int32 Timer::Mode() const { return b_->mode; }

void Timer::Mode(Int32 mode) {
  if (mode != ModeSingle && mode != ModeMultiple) mode = ModeOff;
  bool keepWait = mode == b_->mode && b_->timer->isActive();
  b_->mode = mode;
  if (mode == ModeOff) b_->timer->stop();
  else if (!keepWait) b_->Arm();  // an armed timer keeps its wait: arrivals must not postpone it
}

void Timer::Reset() {
  if (b_->timer->isActive()) b_->Arm();
}

}  // namespace fw
