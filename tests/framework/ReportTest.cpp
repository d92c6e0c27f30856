// Reports on standard error: a failure that repeats every tick is held back
// even when each repeat names another file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>

#include "framework/Event.h"
#include "support/StderrCapture.h"

using namespace fw;

namespace {

using tptest::StderrCapture;


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

// Every rebuild reports each call file it cannot read. Masking paths made the
// second and third file count as repeats of the first, so they were never
// named: each distinct file is named once, then the repeats are counted.
TEST(Reports, EachUnreadableFileOfARebuildIsNamedOnceThenRepeatsAreCounted) {
  tptest::TempDir calls;
  std::vector<std::string> paths;
  for (const char* name : {"20231224100000.txt", "20231224100001.txt", "20231224100002.txt"}) {
    paths.push_back(calls / name);
    tptest::WriteFile(paths.back(), "unreadable");
  }
  StderrCapture err;
  for (int rebuild = 0; rebuild < 5; ++rebuild)
    for (const std::string& path : paths)
      RuntimeUnhandledException(IOException("cannot read call file " + path), "Window1.updateFileList");
  const std::string report = "TallyPoint: unhandled IOException in Window1.updateFileList: cannot read call file ";
  EXPECT_EQ(err.Lines(), (std::vector<std::string>{report + paths[0], report + paths[1], report + paths[2],
                                                   report + paths[0] + " (repeated 10 times)"}));
}

}  // namespace
