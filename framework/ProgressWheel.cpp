#include "framework/ProgressWheel.h"

#include <QPainter>
#include <QTimer>
#include <cmath>

#include "framework/qt/GuiBacking.h"

namespace fw {
namespace {

// Twelve spokes, the brightest one stepping round. The timer runs only
// while the wheel is on screen, so a hidden wheel costs nothing.
class Wheel : public QWidget {
 public:
  Wheel() {
    timer_.setInterval(80);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] {
      step_ = (step_ + 1) % kSpokes;
      update();
    });
  }
  bool Spinning() const { return timer_.isActive(); }

 protected:
  void showEvent(QShowEvent* e) override {
    timer_.start();
    QWidget::showEvent(e);
  }
  void hideEvent(QHideEvent* e) override {
    timer_.stop();
    QWidget::hideEvent(e);
  }
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const double side = std::min(width(), height());
    p.translate(width() / 2.0, height() / 2.0);
    QPen pen(palette().color(QPalette::WindowText));
    pen.setWidthF(std::max(1.5, side / 10.0));
    pen.setCapStyle(Qt::RoundCap);
    for (int i = 0; i < kSpokes; ++i) {
      QColor c = pen.color();
      c.setAlphaF(0.15 + 0.85 * ((kSpokes + i - step_) % kSpokes) / double(kSpokes - 1));
      pen.setColor(c);
      p.setPen(pen);
      const double a = 2 * M_PI * i / kSpokes;
      p.drawLine(QPointF(std::cos(a) * side * 0.22, std::sin(a) * side * 0.22),
                 QPointF(std::cos(a) * side * 0.42, std::sin(a) * side * 0.42));
    }
  }

 private:
  static constexpr int kSpokes = 12;
  QTimer timer_;
  int step_ = 0;
};

}  // namespace

ProgressWheel::ProgressWheel() = default;

void ProgressWheel::CreateWidget() { backing().Adopt(new Wheel); }

bool gui::WheelSpinning(RectControl& control) {
  auto* w = dynamic_cast<Wheel*>(control.backing().widget.data());
  return w && w->Spinning();
}

}  // namespace fw
