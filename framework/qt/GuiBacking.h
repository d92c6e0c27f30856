#pragma once
// The Qt side of windows and controls. Only framework/ sees this header.

#include <QColor>
#include <QFont>
#include <QMenuBar>
#include <QPainter>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QWidget>
#include <functional>
#include <vector>

#include "framework/Graphics.h"
#include "framework/MenuItem.h"
#include "framework/RectControl.h"
#include "framework/Window.h"

namespace fw {

class Listbox;
class PopupMenu;

// What a kind of control keeps beside the common state.
struct ControlKind {
  virtual ~ControlKind() = default;
};

class RectControl::Backing {
 public:
  explicit Backing(RectControl* owner) : owner(owner) {}
  ~Backing();

  // Takes the widget a control kind made: parents it to the window's content
  // area and gives it the common state.
  void Adopt(QWidget* w);
  // The window's content widget, null when the control has no window yet.
  QWidget* ContentWidget() const;
  Ref<fw::Window> WindowRef() const;
  void ApplyGeometry();
  void ApplyFocus();
  // Called when an event handler is installed on the control.
  void HandlersChanged() {
    if (onHandlersChanged) onHandlersChanged();
  }

  RectControl* owner;
  std::weak_ptr<Object> window;
  QPointer<QWidget> widget;
  String name;
  Int32 left = 0, top = 0, width = 0, height = 0, tabIndex = 0;
  bool visible = true, enabled = true, tabStop = false;
  bool lockLeft = false, lockTop = false, lockRight = false, lockBottom = false;
  // Whether the control takes keyboard focus; decided by its kind.
  std::function<bool()> takesFocus = [] { return false; };
  std::function<void()> onHandlersChanged;
  std::unique_ptr<ControlKind> kind;
};

class Window::Backing {
 public:
  explicit Backing(Window* owner);
  ~Backing();

  void ApplyGeometry();
  void ApplyFlags();
  void ApplyVisibility();
  void ApplyBackColor();
  void ApplyTabOrder();
  // Builds the menu bar again when the shown tree changed or another one applies.
  void SyncMenuBar();
  int MenuBarHeight() const;
  void TopResized();
  void UserClose(class QCloseEvent* e);

  struct Entry {
    String name;
    Ref<Object> control;
  };

  Window* owner;
  QPointer<QWidget> top;
  QPointer<QWidget> content;
  QPointer<QMenuBar> menuBar;
  std::vector<QAction*> windowActions;  // shortcut actions also attached to the window itself
  Ref<fw::MenuBar> ownMenu;
  Ref<fw::MenuBar> shownMenu;
  std::uint64_t shownGeneration = 0;
  std::vector<Entry> controls;

  String title = "Untitled";
  Int32 width = 300, height = 300;
  Int32 minWidth = 64, minHeight = 64, maxWidth = 32000, maxHeight = 32000;
  bool visible = true, closeButton = true, resizeable = true, maximizeButton = true, minimizeButton = true;
  bool menuBarVisible = true, hasBackColor = false;
  Color backColor{255, 255, 255};
  QSize laidOutContent;  // content size the controls' locks were last applied for
  bool constructing = false, constructed = false, applying = false, closingFromCode = false;
};

// A drawing context over a painter, valid while one paint event runs.
class Graphics::Backing {
 public:
  QPainter* painter = nullptr;
  QSize size;
  QColor fore = Qt::black;
};

namespace gui {

// The text of a list's row, empty when there is no such row.
inline String RowAt(const std::vector<String>& rows, Int32 row) {
  if (row < 0 || static_cast<std::size_t>(row) >= rows.size()) return String();
  return rows[static_cast<std::size_t>(row)];
}

// row when it names a row of the list, else -1 (no selection).
inline Int32 RowOrNone(const std::vector<String>& rows, Int32 row) {
  return row >= 0 && static_cast<std::size_t>(row) < rows.size() ? row : -1;
}

// Raw bytes as they may be shown: each byte as its Latin-1 character,
// control characters as visible symbols that never act. At most maxBytes
// bytes are converted; truncated tells whether more followed.
QString SafeText(const String& bytes, std::size_t maxBytes, bool* truncated = nullptr);
// The font a TextFont/TextSize/Bold/Italic/Underline set stands for.
QFont ControlFont(const String& family, Int32 size, bool bold, bool italic, bool underline);
QColor ToQColor(Color c);
QString FromBytes(const String& s);  // UTF-8 texts of layouts and menus
// Runs fn later on the event loop, reporting anything it throws.
void Later(std::function<void()> fn, const char* where);
// The text a StaticText's widget draws now.
QString StaticTextShown(RectControl& control);
// Whether a ProgressWheel's animation timer is running.
bool WheelSpinning(RectControl& control);
// Listbox properties that only style the list (Border, scroll bars, ...).
void ListStyle(Listbox& list, const String& prop, const PropValue& value);
// PopupMenu font properties.
void PopupStyle(PopupMenu& popup, const String& prop, const PropValue& value);

}  // namespace gui
}  // namespace fw
