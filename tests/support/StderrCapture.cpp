#include "support/StderrCapture.h"

#include <unistd.h>

#include <cstdio>

namespace tptest {

StderrCapture::StderrCapture() : path_(dir_ / "stderr") {
  std::fflush(stderr);
  saved_ = ::dup(2);
  if (FILE* f = std::fopen(path_.c_str(), "w")) {
    ::dup2(::fileno(f), 2);
    std::fclose(f);
  }
}

StderrCapture::~StderrCapture() { Restore(); }

void StderrCapture::Restore() {
  if (saved_ < 0) return;
  std::fflush(stderr);
  ::dup2(saved_, 2);
  ::close(saved_);
  saved_ = -1;
}

std::string StderrCapture::Text() {
  Restore();
  return ReadFile(path_);
}

std::vector<std::string> StderrCapture::Lines() {
  Restore();
  return ReadLines(path_);
}

}  // namespace tptest
