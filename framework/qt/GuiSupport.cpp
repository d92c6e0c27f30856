// Conversions and small helpers shared by the window and control backings.
#include <QCoreApplication>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QMetaObject>

#include "framework/Event.h"
#include "framework/qt/GuiBacking.h"

namespace fw::gui {

QString SafeText(const String& bytes, std::size_t maxBytes, bool* truncated) {
  const std::size_t n = std::min(bytes.size(), maxBytes);
  if (truncated) *truncated = n < bytes.size();
  QString out;
  out.reserve(static_cast<qsizetype>(n));
  for (std::size_t i = 0; i < n; ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x20)
      out += QChar(0x2400 + c);  // the Unicode picture of that control character
    else if (c == 0x7F)
      out += QChar(0x2421);
    else if (c >= 0x80 && c < 0xA0)
      out += QChar(0xFFFD);  // C1 controls have no picture of their own
    else
      out += QChar(c);
  }
  return out;
}

QFont ControlFont(const String& family, Int32 size, bool bold, bool italic, bool underline) {
  const QString name = QString::fromUtf8(family).trimmed();
  QFont f;
  if (name.isEmpty() || name.compare("System", Qt::CaseInsensitive) == 0 ||
      name.compare("SmallSystem", Qt::CaseInsensitive) == 0) {
    f = QGuiApplication::font();
  } else if (name.compare("Courier", Qt::CaseInsensitive) == 0 ||
             name.compare("Courier New", Qt::CaseInsensitive) == 0 ||
             name.compare("Monaco", Qt::CaseInsensitive) == 0) {
    f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  } else {
    f = QGuiApplication::font();
    f.setFamilies({name});
  }
  if (size > 0) f.setPointSize(size);
  f.setBold(bold);
  f.setItalic(italic);
  f.setUnderline(underline);
  return f;
}

QColor ToQColor(Color c) { return QColor(c.red, c.green, c.blue); }

QString FromBytes(const String& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

void Later(std::function<void()> fn, const char* where) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;
  QMetaObject::invokeMethod(
      app,
      [fn = std::move(fn), where] {
        try {
          fn();
        } catch (const std::exception& e) {
          RuntimeUnhandledException(e, where);
        } catch (...) {
          RuntimeUnhandledException(std::runtime_error("unknown exception"), where);
        }
      },
      Qt::QueuedConnection);
}

}  // namespace fw::gui
