#include "framework/StaticText.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>

#include "framework/qt/GuiBacking.h"

namespace fw {
namespace {

struct TextState : ControlKind {
  String text;
  Int32 align = 0;
  String font = "System";
  Int32 size = 0;
  Color color{0, 0, 0};
  bool bold = false, italic = false, underline = false, multiline = false;
};

// Draws only what fits: the text may be megabytes of raw call data, and Qt
// must never be handed more than a line's worth of it to lay out.
class TextLine : public QWidget {
 public:
  TextLine(StaticText* owner, TextState* s) : owner_(owner), s_(s) {
    setAttribute(Qt::WA_TransparentForMouseEvents, true);  // until a MouseDown handler is installed
  }
  void Invalidate() {
    valid_ = false;
    update();
  }
  const QString& Shown() {
    if (!valid_) {
      shown_ = Compute();
      valid_ = true;
    }
    return shown_;
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setFont(font());
    p.setPen(gui::ToQColor(s_->color));
    p.drawText(rect(), Flags(), Shown());
  }
  void resizeEvent(QResizeEvent* e) override {
    valid_ = false;
    QWidget::resizeEvent(e);
  }
  void changeEvent(QEvent* e) override {
    if (e->type() == QEvent::FontChange) valid_ = false;
    QWidget::changeEvent(e);
  }
  void mousePressEvent(QMouseEvent* e) override {
    if (!owner_->MouseDown.HasHandler()) {
      e->ignore();
      return;
    }
    const QPoint pos = e->position().toPoint();
    owner_->MouseDown.Raise(pos.x(), pos.y());
    e->accept();
  }

 private:
  int Flags() const {
    int h = s_->align == 1 ? Qt::AlignHCenter : s_->align == 2 ? Qt::AlignRight : Qt::AlignLeft;
    return h | (s_->multiline ? Qt::AlignTop | Qt::TextWordWrap : Qt::AlignVCenter | Qt::TextSingleLine);
  }
  QString Compute() const {
    const QFontMetrics fm(font());
    const int w = std::max(1, width());
    // No glyph is narrower than half a pixel, so this many bytes overfill a line.
    const std::size_t perLine = static_cast<std::size_t>(2 * w + 8);
    const std::size_t lines =
        s_->multiline ? static_cast<std::size_t>(std::max(1, height() / std::max(1, fm.lineSpacing()) + 1)) : 1;
    bool truncated = false;
    QString safe = gui::SafeText(s_->text, perLine * lines, &truncated);
    if (s_->multiline) return truncated ? safe + QChar(0x2026) : safe;
    QString shown = fm.elidedText(safe, Qt::ElideRight, w);
    if (truncated && shown == safe) shown = fm.elidedText(safe + QChar(0x2026) + QChar(0x2026), Qt::ElideRight, w);
    return shown;
  }

  StaticText* owner_;
  TextState* s_;
  QString shown_;
  bool valid_ = false;
};

TextState& State(const RectControl& c) { return static_cast<TextState&>(*c.backing().kind); }
TextLine* Line(const RectControl& c) { return static_cast<TextLine*>(c.backing().widget.data()); }

void Refresh(const StaticText& t, bool fontToo) {
  TextLine* line = Line(t);
  if (!line) return;
  if (fontToo) {
    const TextState& s = State(t);
    line->setFont(gui::ControlFont(s.font, s.size, s.bold, s.italic, s.underline));
  }
  line->Invalidate();
}

}  // namespace

StaticText::StaticText() {
  backing().kind = std::make_unique<TextState>();
  backing().onHandlersChanged = [this] {
    if (TextLine* line = Line(*this))
      line->setAttribute(Qt::WA_TransparentForMouseEvents, !MouseDown.HasHandler());
  };
}

void StaticText::CreateWidget() {
  auto* line = new TextLine(this, &State(*this));
  backing().Adopt(line);
  backing().onHandlersChanged();
  Refresh(*this, true);
}

String StaticText::Text() const { return State(*this).text; }
void StaticText::Text(const String& t) {
  // Assignment would keep the old capacity: a short text after a flood's
  // megabytes must let them go.
  String fresh(t);
  State(*this).text.swap(fresh);
  Refresh(*this, false);
}
Int32 StaticText::TextAlign() const { return State(*this).align; }
void StaticText::TextAlign(Int32 a) {
  State(*this).align = a;
  Refresh(*this, false);
}
String StaticText::TextFont() const { return State(*this).font; }
void StaticText::TextFont(const String& f) {
  State(*this).font = f;
  Refresh(*this, true);
}
Int32 StaticText::TextSize() const { return State(*this).size; }
void StaticText::TextSize(Int32 s) {
  State(*this).size = s;
  Refresh(*this, true);
}
Color StaticText::TextColor() const { return State(*this).color; }
void StaticText::TextColor(Color c) {
  State(*this).color = c;
  Refresh(*this, false);
}
bool StaticText::Bold() const { return State(*this).bold; }
bool StaticText::Italic() const { return State(*this).italic; }
bool StaticText::Underline() const { return State(*this).underline; }
bool StaticText::Multiline() const { return State(*this).multiline; }
void StaticText::Bold(bool v) {
  State(*this).bold = v;
  Refresh(*this, true);
}
void StaticText::Italic(bool v) {
  State(*this).italic = v;
  Refresh(*this, true);
}
void StaticText::Underline(bool v) {
  State(*this).underline = v;
  Refresh(*this, true);
}
void StaticText::Multiline(bool v) {
  State(*this).multiline = v;
  Refresh(*this, false);
}

QString gui::StaticTextShown(RectControl& control) {
  auto* t = dynamic_cast<StaticText*>(&control);
  if (!t) return {};
  if (TextLine* line = Line(*t)) return line->Shown();
  return gui::SafeText(State(*t).text, 256);
}

}  // namespace fw
