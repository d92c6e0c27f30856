#pragma once
#include "framework/RectControl.h"

namespace fw {

// A spinning busy indicator while visible; it does no work while hidden.
class ProgressWheel : public RectControl {
 public:
  ProgressWheel();

 protected:
  void CreateWidget() override;
};

}  // namespace fw
