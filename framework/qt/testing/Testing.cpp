#include "framework/Testing.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFontInfo>
#include <QMouseEvent>
#include <QTimer>
#include <map>

#include "framework/MenuItem.h"
#include "framework/PopupMenu.h"
#include "framework/qt/GuiBacking.h"

namespace fw::testing {
namespace {

QWidget* WidgetOf(const Ref<RectControl>& c) {
  QWidget* w = c->backing().widget.data();
  if (!w) throw RuntimeException("control " + c->Name() + " has no widget; was it constructed?");
  return w;
}

Image ToImage(const QPixmap& pm, QSize logical) {
  QImage img = pm.toImage();
  if (img.size() != logical) img = img.scaled(logical);  // a high-density screen
  img = img.convertToFormat(QImage::Format_ARGB32);
  Image out;
  out.width = img.width();
  out.height = img.height();
  out.argb.resize(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height));
  for (int y = 0; y < img.height(); ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
    std::copy(line, line + img.width(), out.argb.begin() + static_cast<std::ptrdiff_t>(y) * out.width);
  }
  return out;
}

}  // namespace

Color Image::Pixel(Int32 x, Int32 y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) throw RuntimeException("pixel outside the image");
  const std::uint32_t p = argb[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)];
  return RGB(static_cast<int>((p >> 16) & 0xFF), static_cast<int>((p >> 8) & 0xFF), static_cast<int>(p & 0xFF));
}

bool RunEventLoopUntil(const std::function<bool()>& cond, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!cond()) {
    if (clock.elapsed() >= timeoutMs) return cond();
    QEventLoop loop;
    QTimer::singleShot(5, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
}

void RunEventLoopFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

Image RenderWindow(Ref<Window> w) {
  QWidget* content = w->backing().content.data();
  if (!content) throw RuntimeException("window has no content area");
  return ToImage(content->grab(), content->size());
}

bool SaveWindowPng(Ref<Window> w, const String& path) {
  QWidget* top = w->backing().top.data();
  return top && top->grab().save(QString::fromStdString(path), "PNG");
}

void Click(Ref<RectControl> control, Int32 x, Int32 y) {
  QWidget* w = WidgetOf(control);
  // The innermost widget at that point gets the click, as on screen.
  QWidget* target = w->childAt(x, y);
  if (!target) target = w;
  const QPointF local = target->mapFrom(w, QPointF(x, y));
  const QPointF global = w->mapToGlobal(QPointF(x, y));
  QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &press);
  if (!control->backing().widget) return;  // the press may have closed its window
  QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &release);
}

void ChooseRow(Ref<RectControl> popup, Int32 row) {
  auto p = RuntimeCheckCast<PopupMenu>(popup);
  auto* combo = static_cast<QComboBox*>(WidgetOf(popup));
  if (row < 0 || row >= p->ListCount()) throw RuntimeException("no row " + std::to_string(row) + " to choose");
  combo->setCurrentIndex(row);
  emit combo->activated(row);
}

bool ChooseMenuItem(Ref<MenuItem> item) { return item->Choose(); }

std::vector<String> TabOrder(Ref<Window> w) {
  std::map<QWidget*, String> names;
  for (Int32 i = 0; i < w->ControlCount(); ++i)
    if (auto rc = std::dynamic_pointer_cast<RectControl>(w->Control(i).shared()); rc && rc->backing().widget)
      names[rc->backing().widget.data()] = rc->Name();
  std::vector<String> order;
  QWidget* top = w->backing().top.data();
  if (!top) return order;
  // Tab moves round a ring, from the control the window focuses first.
  QWidget* start = top->focusWidget() && names.count(top->focusWidget()) ? top->focusWidget() : top;
  QWidget* p = start;
  do {
    auto it = names.find(p);
    if (it != names.end() && (p->focusPolicy() & Qt::TabFocus)) order.push_back(it->second);
    p = p->nextInFocusChain();
  } while (p && p != start);
  return order;
}

String FontFamily(Ref<RectControl> control) { return QFontInfo(WidgetOf(control)->font()).family().toStdString(); }

Int32 FontPointSize(Ref<RectControl> control) { return QFontInfo(WidgetOf(control)->font()).pointSize(); }

String ShownText(Ref<RectControl> control) { return gui::StaticTextShown(*control).toStdString(); }

}  // namespace fw::testing
