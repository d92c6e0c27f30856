#pragma once
// What the process writes to standard error while the object lives.
#include <string>
#include <vector>

#include "support/NotCopied.h"
#include "support/TestEnvironment.h"

namespace tptest {

class StderrCapture : NotCopied {
 public:
  StderrCapture();
  ~StderrCapture();
  // What was written so far; standard error goes back to where it was.
  std::string Text();
  std::vector<std::string> Lines();

 private:
  void Restore();
  TempDir dir_;
  std::string path_;
  int saved_ = -1;
};

}  // namespace tptest
