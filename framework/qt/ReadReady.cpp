#include "framework/system/ReadReady.h"

#include <QCoreApplication>
#include <QSocketNotifier>

namespace fw::detail {

struct ReadReady::Notifier {
  QSocketNotifier notifier;
  explicit Notifier(int fd) : notifier(fd, QSocketNotifier::Read) {}
};

bool ReadReady::Possible() { return QCoreApplication::instance() != nullptr; }

ReadReady::ReadReady(int fd, std::function<void()> onReadable) : notifier_(std::make_unique<Notifier>(fd)) {
  QObject::connect(&notifier_->notifier, &QSocketNotifier::activated, std::move(onReadable));
}

ReadReady::~ReadReady() = default;

}  // namespace fw::detail
