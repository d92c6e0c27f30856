#include "framework/DisclosureTriangle.h"

#include <QAbstractButton>
#include <QPainter>
#include <QPainterPath>

#include "framework/qt/GuiBacking.h"

namespace fw {
namespace {

struct TriangleState : ControlKind {
  bool value = false;
  Int32 facing = 0;
  bool acceptFocus = true;
};

TriangleState& State(const RectControl& c) { return static_cast<TriangleState&>(*c.backing().kind); }

class Triangle : public QAbstractButton {
 public:
  explicit Triangle(TriangleState* s) : s_(s) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const double side = std::min(width(), height()) * 0.6;
    const QPointF c(width() / 2.0, height() / 2.0);
    const double h = side / 2;
    QPainterPath path;
    if (s_->value) {  // open: pointing down
      path.moveTo(c.x() - h, c.y() - h * 0.6);
      path.lineTo(c.x() + h, c.y() - h * 0.6);
      path.lineTo(c.x(), c.y() + h * 0.8);
    } else {
      const double dir = s_->facing == 1 ? -1 : 1;
      path.moveTo(c.x() - dir * h * 0.6, c.y() - h);
      path.lineTo(c.x() - dir * h * 0.6, c.y() + h);
      path.lineTo(c.x() + dir * h * 0.8, c.y());
    }
    path.closeSubpath();
    QColor color = palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText);
    if (isDown()) color = color.lighter(160);
    p.fillPath(path, color);
    if (hasFocus()) {
      p.setPen(QPen(palette().color(QPalette::Highlight), 1));
      p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
  }

 private:
  TriangleState* s_;
};

}  // namespace

DisclosureTriangle::DisclosureTriangle() {
  backing().kind = std::make_unique<TriangleState>();
  backing().takesFocus = [this] { return TabStop() && AcceptFocus(); };
}

void DisclosureTriangle::CreateWidget() {
  auto* t = new Triangle(&State(*this));
  QObject::connect(t, &QAbstractButton::clicked, t, [this] {
    State(*this).value = !State(*this).value;
    if (auto* w = backing().widget.data()) w->update();
    Action.Raise();
  });
  backing().Adopt(t);
}

bool DisclosureTriangle::Value() const { return State(*this).value; }
void DisclosureTriangle::Value(bool v) {
  State(*this).value = v;
  if (auto* w = backing().widget.data()) w->update();
}
void DisclosureTriangle::Facing(Int32 f) {
  State(*this).facing = f;
  if (auto* w = backing().widget.data()) w->update();
}
bool DisclosureTriangle::AcceptFocus() const { return State(*this).acceptFocus; }
void DisclosureTriangle::AcceptFocus(bool a) {
  State(*this).acceptFocus = a;
  backing().ApplyFocus();
}

}  // namespace fw
