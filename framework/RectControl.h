#pragma once
#include "framework/Window.h"

namespace fw {

// A visual control on a window. Index, TabPanelIndex, InitialParent,
// AutoDeactivate, DataSource, DataField and UseFocusRing are accepted and
// have no effect on this platform; HelpTag shows as the control's tooltip.
class RectControl : public Object {
 public:
  RectControl();
  ~RectControl() override;
  // Creates the control on the window that allocated it.
  void Constructor();

  String Name() const;
  void Name(const String& n);
  Ref<fw::Window> Window() const;
  Int32 Left() const;
  void Left(Int32 v);
  Int32 Top() const;
  void Top(Int32 v);
  Int32 Width() const;
  void Width(Int32 v);
  Int32 Height() const;
  void Height(Int32 v);
  bool Visible() const;
  void Visible(bool v);
  bool Enabled() const;
  void Enabled(bool v);
  Int32 TabIndex() const;
  void TabIndex(Int32 v);
  bool TabStop() const;
  void TabStop(bool v);
  bool LockTop() const, LockRight() const, LockBottom() const;
  void LockLeft(bool), LockTop(bool), LockRight(bool), LockBottom(bool);

  Event<void()> Open{this, "Open"};

  class Backing;
  Backing& backing() const { return *b_; }

 protected:
  // Each control class makes its own widget.
  virtual void CreateWidget() = 0;

 private:
  friend class Window;
  std::unique_ptr<Backing> b_;
};

}  // namespace fw
