#pragma once
// A base for what owns something of the process (a folder, a descriptor, a
// child, a namespace, an environment variable): it is released once, by its
// one owner, so it is never copied.

namespace tptest {

class NotCopied {
 protected:
  NotCopied() = default;
  ~NotCopied() = default;

 public:
  NotCopied(const NotCopied&) = delete;
  NotCopied& operator=(const NotCopied&) = delete;
};

}  // namespace tptest
