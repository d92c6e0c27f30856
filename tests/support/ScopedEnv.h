#pragma once
// One environment variable set (or removed) while the object lives, and put
// back as it was after.
#include <optional>
#include <string>

#include "support/NotCopied.h"

namespace tptest {

class ScopedEnv : NotCopied {
 public:
  // value nullopt: the variable is removed for the object's lifetime.
  ScopedEnv(std::string name, const std::optional<std::string>& value);
  ~ScopedEnv();

 private:
  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace tptest
