#include "framework/RectControl.h"

#include <algorithm>

#include "framework/qt/GuiBacking.h"

namespace fw {

// ---------------------------------------------------------------- backing

RectControl::Backing::~Backing() {
  if (widget) {
    // Nothing may call back into the control while its widget goes.
    QObject::disconnect(widget.data(), nullptr, nullptr, nullptr);
    delete widget.data();
  }
}

Ref<fw::Window> RectControl::Backing::WindowRef() const {
  return Ref<fw::Window>(std::dynamic_pointer_cast<fw::Window>(window.lock()));
}

QWidget* RectControl::Backing::ContentWidget() const {
  auto w = window.lock();
  auto* win = dynamic_cast<fw::Window*>(w.get());
  return win ? win->backing().content.data() : nullptr;
}

void RectControl::Backing::Adopt(QWidget* w) {
  widget = w;
  QWidget* parent = ContentWidget();
  if (parent && w->parentWidget() != parent) w->setParent(parent);
  w->setEnabled(enabled);
  ApplyGeometry();
  ApplyFocus();
  // A widget without a parent would become a window of its own.
  w->setVisible(parent && visible);
}

void RectControl::Backing::ApplyGeometry() {
  if (!widget) return;
  // Qt computes right and bottom edges in int: keep every edge far from overflow.
  static constexpr Int32 kLimit = 1 << 24;
  auto clamp = [](Int32 v, Int32 lo) { return std::clamp(v, lo, kLimit); };
  widget->setGeometry(clamp(left, -kLimit), clamp(top, -kLimit), clamp(width, 0), clamp(height, 0));
}

void RectControl::Backing::ApplyFocus() {
  if (widget) widget->setFocusPolicy(takesFocus() ? Qt::StrongFocus : Qt::NoFocus);
  auto w = window.lock();
  if (auto* win = dynamic_cast<fw::Window*>(w.get()); win && win->backing().constructed)
    win->backing().ApplyTabOrder();
}

// ---------------------------------------------------------------- control

RectControl::RectControl() : b_(std::make_unique<Backing>(this)) {}

RectControl::~RectControl() = default;

void RectControl::Constructor() {
  if (!b_->widget) CreateWidget();
}

String RectControl::Name() const { return b_->name; }
void RectControl::Name(const String& n) { b_->name = n; }
Ref<fw::Window> RectControl::Window() const { return b_->WindowRef(); }
Int32 RectControl::Left() const { return b_->left; }
void RectControl::Left(Int32 v) {
  b_->left = v;
  b_->ApplyGeometry();
}
Int32 RectControl::Top() const { return b_->top; }
void RectControl::Top(Int32 v) {
  b_->top = v;
  b_->ApplyGeometry();
}
Int32 RectControl::Width() const { return b_->width; }
void RectControl::Width(Int32 v) {
  b_->width = v;
  b_->ApplyGeometry();
}
Int32 RectControl::Height() const { return b_->height; }
void RectControl::Height(Int32 v) {
  b_->height = v;
  b_->ApplyGeometry();
}
bool RectControl::Visible() const { return b_->visible; }
void RectControl::Visible(bool v) {
  b_->visible = v;
  if (b_->widget && b_->widget->parentWidget()) b_->widget->setVisible(v);
}
bool RectControl::Enabled() const { return b_->enabled; }
void RectControl::Enabled(bool v) {
  b_->enabled = v;
  if (b_->widget) b_->widget->setEnabled(v);
}
Int32 RectControl::TabIndex() const { return b_->tabIndex; }
void RectControl::TabIndex(Int32 v) {
  b_->tabIndex = v;
  b_->ApplyFocus();
}
bool RectControl::TabStop() const { return b_->tabStop; }
void RectControl::TabStop(bool v) {
  b_->tabStop = v;
  b_->ApplyFocus();
}
bool RectControl::LockTop() const { return b_->lockTop; }
bool RectControl::LockRight() const { return b_->lockRight; }
bool RectControl::LockBottom() const { return b_->lockBottom; }
void RectControl::LockLeft(bool v) { b_->lockLeft = v; }
void RectControl::LockTop(bool v) { b_->lockTop = v; }
void RectControl::LockRight(bool v) { b_->lockRight = v; }
void RectControl::LockBottom(bool v) { b_->lockBottom = v; }

}  // namespace fw
