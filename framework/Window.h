#pragma once
#include "framework/Runtime.h"

namespace fw {

class MenuBar;
class Window;

// A non-visual control that sits on a window (such as a ServerSocket subclass).
class _PaneChild {
 public:
  virtual ~_PaneChild() = default;
  virtual void _SetWindow(Ref<fw::Window> w) = 0;
  virtual Ref<fw::Window> Window() = 0;
  virtual Int32 _Index() = 0;
  virtual void _SetIndex(Int32 index) = 0;
};

// A top-level window. Height and every control position refer to the content
// area; a menu bar drawn inside the window sits above it and takes none of it.
// Height returns exactly what was set, also below MinHeight.
class Window : public Object {
 public:
  Window();
  ~Window() override;

  // Builds the window: raises Layout and CreateControls, then the Open event
  // of each control in creation order, then the window's Open event. The
  // window becomes the live instance of its class.
  void Constructor();

  // Allocates a control of class T for this window, not yet constructed.
  template <class T>
  Ref<T> __New() {
    Ref<T> c = New<T>();
    PrepareControl(*c);
    return c;
  }
  void _AddControl(const String& name, Ref<Object> control);
  Ref<Object> ControlByName(const String& name) const;  // nil when none
  Int32 ControlCount() const;
  Ref<Object> Control(Int32 index) const;  // zero-based, creation order

  void Show();
  void Hide();
  void Close();  // raises the Close event and drops the live instance
  bool IsShown() const;

  String Title() const;
  void Title(const String& t);
  Int32 Width() const;
  void Width(Int32 w);
  Int32 Height() const;
  void Height(Int32 h);
  Int32 Left() const;
  Int32 Top() const;
  bool Visible() const;
  void Visible(bool v);
  Int32 MinHeight() const;
  bool CloseButton() const, Resizeable() const, MaximizeButton() const, MinimizeButton() const;
  Ref<fw::MenuBar> MenuBar() const;
  void MenuBar(Ref<fw::MenuBar> bar);

  Event<void()> Layout{this, "Layout"};
  Event<void()> CreateControls{this, "CreateControls"};
  Event<void()> Open{this, "Open"};
  Event<void()> CloseEvent{this, "Close"};

  class Backing;
  Backing& backing() const { return *b_; }

 private:
  void PrepareControl(Object& control);
  std::unique_ptr<Backing> b_;
};

// The live window of that class name, nil when none.
Ref<Window> _GetImplicitWindow(const String& className);
// The control of that name on w, nil when none; raises NilObjectException for a nil w.
Ref<Object> RuntimeWindowControlByName(Ref<Window> w, const String& name);
// Wires a delegate to the event of that name on control. Raises
// RuntimeException when there is no such event or the signatures differ.
void _InstallInstanceEventHandler(Ref<Object> control, const String& eventName,
                                  std::shared_ptr<DelegateBase> handler);

}  // namespace fw
