#pragma once
#include "framework/Runtime.h"

namespace fw {

// A drawing context, such as one list cell's background.
class Graphics : public Object {
 public:
  class Backing;
  explicit Graphics(Backing* b) : b_(b) {}
  Graphics() = default;
  void ForeColor(Color c);
  Int32 Width() const;
  Int32 Height() const;
  void FillRect(Int32 x, Int32 y, Int32 w, Int32 h);

 private:
  Backing* b_ = nullptr;  // valid only while the paint event runs
};

}  // namespace fw
