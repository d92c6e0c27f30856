// The window's menu bar, built from the program's MenuItem tree.
#include <QAction>
#include <QKeySequence>
#include <QMenu>

#include "framework/Application.h"
#include "framework/MenuItem.h"
#include "framework/qt/GuiBacking.h"

namespace fw {
namespace {

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

int Window::Backing::MenuBarHeight() const {
  if (!menuBar || !menuBarVisible || menuBar->isNativeMenuBar()) return 0;
  int h = menuBar->heightForWidth(width);
  return h > 0 ? h : menuBar->sizeHint().height();
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

}  // namespace fw
