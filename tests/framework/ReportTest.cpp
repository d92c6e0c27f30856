// Reports on standard error: a failure that repeats every tick is held back
// even when each repeat names another file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>

#include "framework/Event.h"
#include "support/TestEnvironment.h"

using namespace fw;

namespace {

// What the process writes to standard error while it lives.
class StderrCapture {
 public:
  StderrCapture() : path_(dir_ / "stderr") {
    fflush(stderr);
    saved_ = dup(2);
    FILE* f = fopen(path_.c_str(), "w");
    dup2(fileno(f), 2);
    fclose(f);
  }
  ~StderrCapture() { Restore(); }
  std::vector<std::string> Lines() {
    Restore();
    std::vector<std::string> lines;
    std::stringstream in(tptest::ReadFile(path_));
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    saved_ = -1;
  }
  tptest::TempDir dir_;
  std::string path_;
  int saved_ = -1;
};

std::string CannotCreate(int tick) {
  return "cannot create call file /vol/Calls/2026120822" + std::to_string(4000 + tick) + "0.txt";
}

TEST(Reports, FailureNamingANewFileEachTickIsHeldBackByPowersOfTen) {
  StderrCapture err;
  for (int tick = 0; tick < 101; ++tick) RuntimeUnhandledException(NilObjectException(CannotCreate(tick)), "secondTimer.Event_Action");
  RuntimeUnhandledException(NilObjectException(CannotCreate(101)), "Window1.updateFileList");
  RuntimeUnhandledException(IOException("cannot sync folder /vol/Calls after writing 2026120822410.txt: EIO"),
                            "Window1.updateFileList");
  const std::string tick = "TallyPoint: unhandled NilObjectException in secondTimer.Event_Action: ";
  EXPECT_EQ(err.Lines(),
            (std::vector<std::string>{
                tick + CannotCreate(0),
                tick + CannotCreate(10) + " (repeated 10 times)",
                tick + CannotCreate(100) + " (repeated 100 times)",
                "TallyPoint: unhandled NilObjectException in Window1.updateFileList: " + CannotCreate(101),
                "TallyPoint: unhandled IOException in Window1.updateFileList: cannot sync folder /vol/Calls after "
                "writing 2026120822410.txt: EIO",
            }));
}

}  // namespace
