#pragma once
#include "framework/Object.h"

namespace fw {

// Output to a new text file. The file appears whole or not at all: it is
// written under a temporary name and put in place by Close, which flushes and
// syncs it and its folder. Close raises IOException when that fails; the
// target is then left as it was.
class TextOutputStream : public Object {
 public:
  class Backing;
  explicit TextOutputStream(std::unique_ptr<Backing> b);
  ~TextOutputStream() override;  // a stream never closed is discarded
  void Write(const String& s);      // adds no line end
  void WriteLine(const String& s);  // adds LF
  void Close();

 private:
  std::unique_ptr<Backing> b_;
};

}  // namespace fw
