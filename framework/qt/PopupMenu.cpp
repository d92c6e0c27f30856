#include "framework/PopupMenu.h"

#include <QComboBox>

#include "framework/qt/GuiBacking.h"

namespace fw {
namespace {

struct PopupState : ControlKind {
  std::vector<String> rows;  // exactly the bytes given; the combo box shows them decoded
  Int32 listIndex = -1;
  String font = "System";
  Int32 size = 0;
  bool bold = false, italic = false, underline = false;
};

PopupState& State(const RectControl& c) { return static_cast<PopupState&>(*c.backing().kind); }
QComboBox* Combo(const RectControl& c) { return static_cast<QComboBox*>(c.backing().widget.data()); }

// The combo box follows the stored index; Qt's own habit of selecting the
// first row added to an empty box must not change what the program set.
void Sync(const PopupMenu& p) {
  if (QComboBox* c = Combo(p)) {
    const QSignalBlocker block(c);
    c->setCurrentIndex(State(p).listIndex);
  }
}

}  // namespace

PopupMenu::PopupMenu() {
  backing().kind = std::make_unique<PopupState>();
  backing().takesFocus = [this] { return TabStop(); };
}

void PopupMenu::CreateWidget() {
  PopupState& s = State(*this);
  auto* c = new QComboBox;
  c->setEditable(false);
  c->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  for (const String& r : s.rows) c->addItem(gui::FromBytes(r));
  // Only the user's choice raises Change, also when the row chosen is the
  // one already selected: that may be a row the program selected for them.
  QObject::connect(c, &QComboBox::activated, c, [this](int row) {
    State(*this).listIndex = row;
    Change.Raise();
  });
  backing().Adopt(c);
  c->setFont(gui::ControlFont(s.font, s.size, s.bold, s.italic, s.underline));
  Sync(*this);
}

void PopupMenu::AddRow(const String& text) {
  State(*this).rows.push_back(text);
  if (QComboBox* c = Combo(*this)) {
    const QSignalBlocker block(c);
    c->addItem(gui::FromBytes(text));
  }
  Sync(*this);
}

void PopupMenu::DeleteAllRows() {
  State(*this).rows.clear();
  State(*this).listIndex = -1;
  if (QComboBox* c = Combo(*this)) {
    const QSignalBlocker block(c);
    c->clear();
  }
}

Int32 PopupMenu::ListCount() const { return static_cast<Int32>(State(*this).rows.size()); }

String PopupMenu::List(Int32 row) const { return gui::RowAt(State(*this).rows, row); }

Int32 PopupMenu::ListIndex() const { return State(*this).listIndex; }
void PopupMenu::ListIndex(Int32 row) {
  PopupState& s = State(*this);
  s.listIndex = gui::RowOrNone(s.rows, row);
  Sync(*this);
}

String PopupMenu::Text() const { return List(State(*this).listIndex); }

namespace gui {

void PopupStyle(PopupMenu& p, const String& prop, const PropValue& v) {
  PopupState& s = State(p);
  if (prop == "TextFont") s.font = std::get<String>(v);
  else if (prop == "TextSize") s.size = std::get<Int32>(v);
  else if (prop == "Bold") s.bold = std::get<bool>(v);
  else if (prop == "Italic") s.italic = std::get<bool>(v);
  else if (prop == "Underline") s.underline = std::get<bool>(v);
  if (QComboBox* c = Combo(p)) c->setFont(ControlFont(s.font, s.size, s.bold, s.italic, s.underline));
}

}  // namespace gui
}  // namespace fw
