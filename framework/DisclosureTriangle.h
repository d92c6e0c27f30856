#pragma once
#include "framework/RectControl.h"

namespace fw {

// Facing 0 right, 1 left. Each click flips Value and raises Action.
class DisclosureTriangle : public RectControl {
 public:
  DisclosureTriangle();
  bool Value() const;
  void Value(bool v);
  void Facing(Int32 f);
  bool AcceptFocus() const;
  void AcceptFocus(bool a);

  Event<void()> Action{this, "Action"};

 protected:
  void CreateWidget() override;
};

}  // namespace fw
