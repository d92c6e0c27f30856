// The Qt side of a window: its top-level widget and content area, their
// geometry, flags, visibility and colour, the focus order, and a user's close.
#include <QApplication>
#include <QCloseEvent>
#include <QEvent>
#include <algorithm>

#include "framework/Application.h"
#include "framework/RectControl.h"
#include "framework/qt/GuiBacking.h"
#include "framework/qt/LiveWindows.h"

namespace fw {
namespace {

class WindowWidget : public QWidget {
 public:
  explicit WindowWidget(Window::Backing* b) : b_(b) {
    setAttribute(Qt::WA_QuitOnClose, false);  // quitting is the framework's Quit alone
  }
  void Detach() { b_ = nullptr; }

 protected:
  void closeEvent(QCloseEvent* e) override {
    if (b_)
      b_->UserClose(e);
    else
      e->accept();
  }
  void resizeEvent(QResizeEvent* e) override {
    QWidget::resizeEvent(e);
    if (b_) b_->TopResized();
  }
  bool event(QEvent* e) override {
    if (b_ && (e->type() == QEvent::WindowActivate || e->type() == QEvent::Show)) b_->SyncMenuBar();
    return QWidget::event(e);
  }

 private:
  Window::Backing* b_;
};

void RequireApplication() {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
    throw RuntimeException("windows need the runtime to be initialised first");
}

// Sizes are the program's to choose, but Qt's arithmetic is int: keep every
// size within what a widget can have, and every move within Int32.
int FitSize(Int32 v, int reserved = 0) { return std::clamp<Int32>(v, 0, QWIDGETSIZE_MAX - reserved); }
void SaturatingAdd(Int32& v, int delta) {
  v = static_cast<Int32>(std::clamp<std::int64_t>(std::int64_t{v} + delta, INT32_MIN, INT32_MAX));
}

}  // namespace

Window::Backing::Backing(Window* w) : owner(w) {
  RequireApplication();
  auto* t = new WindowWidget(this);
  top = t;
  content = new QWidget(t);
  content->setObjectName("content");
  laidOutContent = QSize(width, height);
  ApplyFlags();
  ApplyGeometry();
}

Window::Backing::~Backing() {
  controls.clear();  // controls delete their widgets while the window's still stand
  if (top) {
    static_cast<WindowWidget*>(top.data())->Detach();
    delete top.data();
  }
}

void Window::Backing::ApplyGeometry() {
  if (!top) return;
  const QSize size(FitSize(width), FitSize(height));
  // Move or stretch the controls locked to the right or bottom edge.
  if (size != laidOutContent) {
    const int dw = size.width() - laidOutContent.width(), dh = size.height() - laidOutContent.height();
    laidOutContent = size;
    for (auto& e : controls) {
      auto* rc = dynamic_cast<RectControl*>(e.control.get());
      if (!rc) continue;
      auto& c = rc->backing();
      if (c.lockRight) SaturatingAdd(c.lockLeft ? c.width : c.left, dw);
      if (c.lockBottom) SaturatingAdd(c.lockTop ? c.height : c.top, dh);
      if (dw || dh) c.ApplyGeometry();
    }
  }
  applying = true;
  const int mb = MenuBarHeight();
  auto fit = [mb](Int32 v) { return FitSize(v, mb); };
  const int w = fit(width), h = fit(height);
  if (menuBar) {
    menuBar->setVisible(menuBarVisible);
    menuBar->setGeometry(0, 0, w, mb);
  }
  content->setGeometry(0, mb, w, h);
  const QSize outer(w, h + mb);
  if (!resizeable) {
    top->setFixedSize(outer);
  } else {
    // The bounds limit the user; a size the program sets is taken as set.
    top->setMinimumSize(std::min(fit(minWidth), w), std::min(fit(minHeight), h) + mb);
    top->setMaximumSize(std::max(fit(maxWidth), w), std::max(fit(maxHeight), h) + mb);
    top->resize(outer);
  }
  applying = false;
}

void Window::Backing::TopResized() {
  if (!top || applying) return;
  const int mb = MenuBarHeight();
  if (resizeable) {
    // Only a user can resize a window behind our back.
    width = top->width();
    height = std::max(0, top->height() - mb);
  }
  ApplyGeometry();
}

void Window::Backing::ApplyFlags() {
  if (!top) return;
  Qt::WindowFlags f = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint;
  if (closeButton) f |= Qt::WindowCloseButtonHint;
  if (minimizeButton) f |= Qt::WindowMinimizeButtonHint;
  if (maximizeButton && resizeable) f |= Qt::WindowMaximizeButtonHint;
  if (top->windowFlags() == f) return;
  const bool shown = top->isVisible();
  top->setWindowFlags(f);  // hides a shown window
  if (shown) top->show();
}

void Window::Backing::ApplyVisibility() {
  if (!top || constructing) return;  // shown once its controls exist
  if (visible) {
    SyncMenuBar();
    top->show();
  } else {
    top->hide();
  }
}

void Window::Backing::ApplyBackColor() {
  if (!content) return;
  content->setAutoFillBackground(hasBackColor);
  if (hasBackColor) {
    QPalette p = content->palette();
    p.setColor(QPalette::Window, gui::ToQColor(backColor));
    content->setPalette(p);
  }
}

void Window::Backing::ApplyTabOrder() {
  std::vector<RectControl*> order;
  for (auto& e : controls)
    if (auto* rc = dynamic_cast<RectControl*>(e.control.get()))
      if (rc->backing().widget && rc->backing().takesFocus()) order.push_back(rc);
  std::stable_sort(order.begin(), order.end(),
                   [](RectControl* a, RectControl* b) { return a->backing().tabIndex < b->backing().tabIndex; });
  for (std::size_t i = 1; i < order.size(); ++i)
    QWidget::setTabOrder(order[i - 1]->backing().widget, order[i]->backing().widget);
  // The focus chain is a ring: where it starts is the control the window
  // focuses first, which must be the lowest TabIndex, not the first created.
  if (!order.empty() && top && !top->isActiveWindow()) order.front()->backing().widget->setFocus(Qt::OtherFocusReason);
}

void Window::Backing::UserClose(QCloseEvent* e) {
  if (closingFromCode) {
    e->accept();
    return;
  }
  if (!closeButton) {
    // No close control was offered: a window manager closing it anyway is a
    // request to quit, which the application may still cancel.
    e->ignore();
    gui::Later([] { Quit(); }, "Window.Close");
    return;
  }
  e->accept();
  visible = false;
  owner->CloseEvent.Raise();
  gui::EndLiveWindow(owner->ClassName(), owner);
}

}  // namespace fw
