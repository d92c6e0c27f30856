#include "framework/Window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMetaObject>
#include <algorithm>
#include <map>

#include "framework/Application.h"
#include "framework/MenuItem.h"
#include "framework/RectControl.h"
#include "framework/qt/GuiBacking.h"

namespace fw {
namespace {

// The live window of each class. Strong references: the program reaches its
// windows through this registry only and stores none itself.
std::map<String, Ref<Window>>& LiveWindows() {
  static std::map<String, Ref<Window>> windows;
  return windows;
}

// Windows hold widgets, which must go before QApplication does.
void ReleaseWindowsAtExit() {
  static bool added = false;
  if (added) return;
  added = true;
  qAddPostRoutine([] {
    auto windows = std::move(LiveWindows());
    LiveWindows().clear();
    windows.clear();
  });
}

// The last reference may be the registry's; let it go once the current
// event (which may be one of the window's own) has returned.
void ReleaseLater(Ref<Window> w) {
  if (!QCoreApplication::instance()) return;
  QMetaObject::invokeMethod(QCoreApplication::instance(), [w]() mutable { w = nullptr; }, Qt::QueuedConnection);
}

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

void BuildMenu(QWidget* menu, const Ref<MenuItem>& parent, std::vector<QAction*>& shortcutActions) {
  for (Int32 i = 0; i < parent->Count(); ++i) {
    Ref<MenuItem> item = parent->Item(i);
    QString text = gui::FromBytes(item->Text());
    if (item->Text() == "-") {
      if (auto* m = qobject_cast<QMenu*>(menu)) m->addSeparator();
      continue;
    }
    if (item->Count() > 0) {
      auto* sub = new QMenu(text, menu);
      sub->setEnabled(item->Enabled());
      if (auto* bar = qobject_cast<QMenuBar*>(menu))
        bar->addMenu(sub);
      else
        static_cast<QMenu*>(menu)->addMenu(sub);
      BuildMenu(sub, item, shortcutActions);
      continue;
    }
    auto* action = new QAction(text, menu);
    action->setMenuRole(QAction::NoRole);  // items stay where the program put them
    action->setEnabled(item->Enabled());
    if (auto k = item->KeyboardShortcut(); k && !k->empty()) {
      action->setShortcut(QKeySequence(QString::fromUtf8(PlatformShortcut(*k))));
      shortcutActions.push_back(action);
    }
    std::weak_ptr<Object> weak = item->weak_from_this();
    QObject::connect(action, &QAction::triggered, action, [weak] {
      // Chosen after the menu has closed and its signal has returned, so the
      // handler may rebuild menus or open dialogs.
      gui::Later(
          [weak] {
            if (auto p = std::dynamic_pointer_cast<MenuItem>(weak.lock())) p->Choose();
          },
          "MenuItem.Choose");
    });
    menu->addAction(action);
  }
}

}  // namespace

// ---------------------------------------------------------------- backing

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

int Window::Backing::MenuBarHeight() const {
  if (!menuBar || !menuBarVisible || menuBar->isNativeMenuBar()) return 0;
  int h = menuBar->heightForWidth(width);
  return h > 0 ? h : menuBar->sizeHint().height();
}

namespace {
// Sizes are the program's to choose, but Qt's arithmetic is int: keep every
// size within what a widget can have, and every move within Int32.
int FitSize(Int32 v, int reserved = 0) { return std::clamp<Int32>(v, 0, QWIDGETSIZE_MAX - reserved); }
void SaturatingAdd(Int32& v, int delta) {
  v = static_cast<Int32>(std::clamp<std::int64_t>(std::int64_t{v} + delta, INT32_MIN, INT32_MAX));
}
}  // namespace

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

void Window::Backing::SyncMenuBar() {
  if (!top) return;
  Ref<fw::MenuBar> want = ownMenu;
  if (!want) {
    if (Ref<Application> app = _GetAppObject()) want = app->MenuBar();
  }
  if (want == shownMenu && (!want || want->Generation() == shownGeneration)) return;
  for (QAction* a : windowActions) top->removeAction(a);
  windowActions.clear();
  delete menuBar.data();
  shownMenu = want;
  if (want) {
    shownGeneration = want->Generation();
    auto* bar = new QMenuBar(top);
    BuildMenu(bar, want, windowActions);
    // Shortcuts reach the window itself too, so they work with the bar hidden.
    for (QAction* a : windowActions) top->addAction(a);
    menuBar = bar;
    bar->show();
  }
  ApplyGeometry();
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
  auto& live = LiveWindows();
  auto it = live.find(owner->ClassName());
  if (it != live.end() && it->second.get() == owner) {
    ReleaseLater(it->second);
    live.erase(it);
  }
}

// ---------------------------------------------------------------- window

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
  if (!cls.empty() && self) {
    ReleaseWindowsAtExit();
    auto& live = LiveWindows();
    auto it = live.find(cls);
    if (it != live.end() && it->second != self) ReleaseLater(it->second);
    live[cls] = self;
  }
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
  auto& live = LiveWindows();
  auto it = live.find(ClassName());
  if (it != live.end() && it->second.get() == this) {
    ReleaseLater(it->second);
    live.erase(it);
  }
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
Int32 Window::MinWidth() const { return b_->minWidth; }
Int32 Window::MinHeight() const { return b_->minHeight; }
Int32 Window::MaxWidth() const { return b_->maxWidth; }
Int32 Window::MaxHeight() const { return b_->maxHeight; }
bool Window::CloseButton() const { return b_->closeButton; }
bool Window::Resizeable() const { return b_->resizeable; }
bool Window::MaximizeButton() const { return b_->maximizeButton; }
bool Window::MinimizeButton() const { return b_->minimizeButton; }
bool Window::MenuBarVisible() const { return b_->menuBarVisible; }
Ref<fw::MenuBar> Window::MenuBar() const { return b_->ownMenu ? b_->ownMenu : b_->shownMenu; }
void Window::MenuBar(Ref<fw::MenuBar> bar) {
  b_->ownMenu = std::move(bar);
  b_->SyncMenuBar();
}

// ---------------------------------------------------------------- free functions

Ref<Window> _GetImplicitWindow(const String& className) {
  auto& live = LiveWindows();
  auto it = live.find(className);
  return it == live.end() ? nullptr : it->second;
}

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
