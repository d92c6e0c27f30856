#pragma once
// A call on the event loop each time a descriptor has something to read,
// for code that knows no event loop; framework/qt/ makes it real.
#include <functional>
#include <memory>

namespace fw::detail {

class ReadReady {
 public:
  // There is an event loop to call from: the application object exists.
  static bool Possible();
  // From now until it is destroyed, onReadable runs on the event loop each
  // time fd can be read without blocking. Only where Possible.
  ReadReady(int fd, std::function<void()> onReadable);
  ~ReadReady();
  ReadReady(const ReadReady&) = delete;
  ReadReady& operator=(const ReadReady&) = delete;

 private:
  struct Notifier;
  std::unique_ptr<Notifier> notifier_;
};

}  // namespace fw::detail
