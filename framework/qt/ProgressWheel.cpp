#include "framework/ProgressWheel.h"

#include <QEvent>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <QWindow>
#include <array>
#include <cmath>

#include "framework/qt/GuiBacking.h"

namespace fw {
namespace {

// Twelve spokes, the brightest one stepping round. The wheel spins for as
// long as the serial port is open, so a frame must cost next to nothing: the
// twelve frames are drawn once into pixmaps and a step only copies one, at a
// rate that still reads as spinning. The timer runs only while the wheel can
// be seen: not while hidden, minimised, or while the window system reports
// the window unexposed.
class Wheel : public QWidget {
 public:
  Wheel() {
    timer_.setInterval(kFrameMs);
    timer_.setTimerType(Qt::CoarseTimer);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] {
      if (!Seen()) {
        timer_.stop();
        return;
      }
      step_ = (step_ + 1) % kSpokes;
      update();
    });
  }
  bool Spinning() const { return timer_.isActive(); }

 protected:
  void showEvent(QShowEvent* e) override {
    Watch();
    Follow();
    QWidget::showEvent(e);
  }
  void hideEvent(QHideEvent* e) override {
    timer_.stop();  // a minimised window hides its widgets as well
    QWidget::hideEvent(e);
  }
  bool eventFilter(QObject* o, QEvent* e) override {
    if (o == watched_ && e->type() == QEvent::Expose) Follow();
    return QWidget::eventFilter(o, e);
  }
  void changeEvent(QEvent* e) override {
    if (e->type() == QEvent::PaletteChange) frames_ = {};
    QWidget::changeEvent(e);
  }
  void paintEvent(QPaintEvent*) override {
    const qreal dpr = devicePixelRatioF();
    if (framesSize_ != size() || framesDpr_ != dpr || frames_[0].isNull()) Render(dpr);
    QPainter(this).drawPixmap(0, 0, frames_[static_cast<std::size_t>(step_)]);
  }

 private:
  static constexpr int kSpokes = 12;
  static constexpr int kFrameMs = 250;  // a turn in 3 s: plainly turning, and cheap enough to run for months

  bool Seen() const {
    const QWindow* w = window()->windowHandle();
    return isVisible() && (!w || w->isExposed());
  }
  // Starts or stops the timer as the window is exposed or not.
  void Follow() {
    if (Seen()) {
      if (!timer_.isActive()) timer_.start();
    } else {
      timer_.stop();
    }
  }
  void Watch() {
    QWindow* w = window()->windowHandle();
    if (!w || w == watched_) return;
    if (watched_) watched_->removeEventFilter(this);
    watched_ = w;
    w->installEventFilter(this);
  }
  void Render(qreal dpr) {
    framesSize_ = size();
    framesDpr_ = dpr;
    const double side = std::min(width(), height());
    for (int step = 0; step < kSpokes; ++step) {
      QPixmap pm(size() * dpr);
      pm.setDevicePixelRatio(dpr);
      pm.fill(Qt::transparent);
      QPainter p(&pm);
      p.setRenderHint(QPainter::Antialiasing);
      p.translate(width() / 2.0, height() / 2.0);
      QPen pen(palette().color(QPalette::WindowText));
      pen.setWidthF(std::max(1.5, side / 10.0));
      pen.setCapStyle(Qt::RoundCap);
      for (int i = 0; i < kSpokes; ++i) {
        QColor c = pen.color();
        c.setAlphaF(0.15 + 0.85 * ((kSpokes + i - step) % kSpokes) / double(kSpokes - 1));
        pen.setColor(c);
        p.setPen(pen);
        const double a = 2 * M_PI * i / kSpokes;
        p.drawLine(QPointF(std::cos(a) * side * 0.22, std::sin(a) * side * 0.22),
                   QPointF(std::cos(a) * side * 0.42, std::sin(a) * side * 0.42));
      }
      frames_[static_cast<std::size_t>(step)] = pm;
    }
  }

  QTimer timer_;
  int step_ = 0;
  std::array<QPixmap, kSpokes> frames_;
  QSize framesSize_;
  qreal framesDpr_ = 0;
  QPointer<QWindow> watched_;
};

}  // namespace

ProgressWheel::ProgressWheel() = default;

void ProgressWheel::CreateWidget() { backing().Adopt(new Wheel); }

bool gui::WheelSpinning(RectControl& control) {
  auto* w = dynamic_cast<Wheel*>(control.backing().widget.data());
  return w && w->Spinning();
}

}  // namespace fw
