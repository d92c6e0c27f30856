#pragma once
// A tmpfs of 256 KiB mounted on a folder for the object's lifetime, so that a
// test can fill the disk under the program. Needs a private mount namespace
// (EnterPrivateNamespaces).
#include <string>

#include "support/NotCopied.h"

namespace tptest {

class SmallTmpfs : NotCopied {
 public:
  explicit SmallTmpfs(std::string path);
  ~SmallTmpfs();

  bool mounted() const { return error_ == 0; }
  int error() const { return error_; }  // errno of a failed mount
  // Takes what room is left with one file; false when it could not be made.
  bool FillUp(const std::string& file) const;

 private:
  std::string path_;
  int error_ = 0;
};

}  // namespace tptest
