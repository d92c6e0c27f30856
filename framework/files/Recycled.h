#pragma once
// The one object of a kind handed out last, handed out again once nobody
// else holds it. A listing loop asks for an item and a stream for every file
// and lets go of each before asking for the next: over a million files that
// is a million allocations of each saved.
#include <memory>

namespace fw::detail {

template <class T>
class Recycled {
 public:
  // The object handed out last, if nobody else holds it any more; the
  // caller makes it new again. Null otherwise.
  T* Reclaim() const { return last_ && last_.use_count() == 1 ? last_.get() : nullptr; }
  const std::shared_ptr<T>& Last() const { return last_; }
  const std::shared_ptr<T>& HandOut(std::shared_ptr<T> fresh) {
    last_ = std::move(fresh);
    return last_;
  }

 private:
  std::shared_ptr<T> last_;
};

}  // namespace fw::detail
