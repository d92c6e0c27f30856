#include "framework/Window.h"

#include <algorithm>

#include "framework/RectControl.h"
#include "framework/qt/GuiBacking.h"
#include "framework/qt/LiveWindows.h"

namespace fw {

Window::Window() : b_(std::make_unique<Backing>(this)) {}

Window::~Window() = default;

void Window::Constructor() {
  Backing& b = *b_;
  if (b.constructed || b.constructing) return;
  b.constructing = true;
  // Registered first, so that handlers run during construction find this
  // window rather than building a second one.
  const String cls = ClassName();
  Ref<Window> self(std::dynamic_pointer_cast<Window>(weak_from_this().lock()));
  if (!cls.empty() && self) gui::MakeLiveWindow(cls, self);
  Layout.Raise();
  CreateControls.Raise();
  b.ApplyTabOrder();
  for (std::size_t i = 0; i < b.controls.size(); ++i) {
    Ref<Object> c = b.controls[i].control;  // an Open handler may add controls
    if (auto* rc = dynamic_cast<RectControl*>(c.get())) {
      rc->Open.Raise();
    } else if (auto* ev = dynamic_cast<Event<void()>*>(c->FindEvent("Open"))) {
      ev->Raise();
    }
  }
  b.constructing = false;
  b.constructed = true;
  b.SyncMenuBar();
  b.ApplyVisibility();
  Open.Raise();
}

void Window::PrepareControl(Object& control) {
  if (auto* rc = dynamic_cast<RectControl*>(&control)) rc->backing().window = weak_from_this();
}

void Window::_AddControl(const String& name, Ref<Object> control) {
  Object& obj = *control;  // nil raises
  if (auto* rc = dynamic_cast<RectControl*>(&obj)) {
    auto& cb = rc->backing();
    cb.window = weak_from_this();
    cb.name = name;
    if (cb.widget && cb.widget->parentWidget() != b_->content) cb.Adopt(cb.widget);
  } else if (auto* pane = dynamic_cast<_PaneChild*>(&obj)) {
    pane->_SetWindow(Ref<Window>(std::dynamic_pointer_cast<Window>(weak_from_this().lock())));
  }
  b_->controls.push_back({name, control});
  if (b_->constructed) b_->ApplyTabOrder();
}

Ref<Object> Window::ControlByName(const String& name) const {
  for (auto& e : b_->controls) {
    auto* rc = dynamic_cast<RectControl*>(e.control.get());
    if ((rc ? rc->backing().name : e.name) == name) return e.control;
  }
  return nullptr;
}

Int32 Window::ControlCount() const { return static_cast<Int32>(b_->controls.size()); }

Ref<Object> Window::Control(Int32 index) const {
  if (index < 0 || index >= ControlCount()) return nullptr;
  return b_->controls[static_cast<std::size_t>(index)].control;
}

void Window::Show() {
  b_->visible = true;
  if (b_->constructing) return;
  b_->ApplyVisibility();
  if (b_->top) {
    b_->top->raise();
    b_->top->activateWindow();
  }
}

void Window::Hide() {
  b_->visible = false;
  b_->ApplyVisibility();
}

void Window::Close() {
  b_->visible = false;
  CloseEvent.Raise();
  if (b_->top) {
    b_->closingFromCode = true;
    b_->top->close();
    b_->closingFromCode = false;
  }
  gui::EndLiveWindow(ClassName(), this);
}

bool Window::IsShown() const { return b_->top && b_->top->isVisible(); }

String Window::Title() const { return b_->title; }
void Window::Title(const String& t) {
  b_->title = t;
  if (b_->top) b_->top->setWindowTitle(gui::FromBytes(t));
}
Int32 Window::Width() const { return b_->width; }
void Window::Width(Int32 w) {
  b_->width = std::max<Int32>(0, w);
  b_->ApplyGeometry();
}
Int32 Window::Height() const { return b_->height; }
void Window::Height(Int32 h) {
  b_->height = std::max<Int32>(0, h);
  b_->ApplyGeometry();
}
Int32 Window::Left() const { return b_->top ? b_->top->x() : 0; }
Int32 Window::Top() const { return b_->top ? b_->top->y() : 0; }
bool Window::Visible() const { return b_->visible; }
void Window::Visible(bool v) {
  b_->visible = v;
  b_->ApplyVisibility();
}
Int32 Window::MinHeight() const { return b_->minHeight; }
bool Window::CloseButton() const { return b_->closeButton; }
bool Window::Resizeable() const { return b_->resizeable; }
bool Window::MaximizeButton() const { return b_->maximizeButton; }
bool Window::MinimizeButton() const { return b_->minimizeButton; }
Ref<fw::MenuBar> Window::MenuBar() const { return b_->ownMenu ? b_->ownMenu : b_->shownMenu; }
void Window::MenuBar(Ref<fw::MenuBar> bar) {
  b_->ownMenu = std::move(bar);
  b_->SyncMenuBar();
}

// ---------------------------------------------------------------- free functions

Ref<Window> _GetImplicitWindow(const String& className) { return gui::LiveWindow(className); }

Ref<Object> RuntimeWindowControlByName(Ref<Window> w, const String& name) { return w->ControlByName(name); }

void _InstallInstanceEventHandler(Ref<Object> control, const String& eventName,
                                  std::shared_ptr<DelegateBase> handler) {
  Object& obj = *control;  // nil raises
  EventBase* ev = obj.FindEvent(eventName);
  if (!ev)
    throw RuntimeException("class " + obj.ClassName() + " has no event \"" + eventName + "\"" +
                           (handler ? " for handler " + handler->OperationName() : String()));
  if (!handler) throw NilObjectException("no handler given for event \"" + eventName + "\"");
  if (handler->SignatureText() != ev->SignatureText())
    throw RuntimeException("event \"" + eventName + "\" of " + obj.ClassName() + " has the signature " +
                           ev->SignatureText() + " but handler " + handler->OperationName() + " has " +
                           handler->SignatureText());
  ev->InstallAny(std::move(handler));
  if (auto* rc = dynamic_cast<RectControl*>(&obj)) rc->backing().HandlersChanged();
}

}  // namespace fw
