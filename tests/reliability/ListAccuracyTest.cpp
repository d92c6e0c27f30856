// The list of call files after each call file written shows exactly what
// the folder holds, also when files came or went by other means in between
// (an operator copying old call files in, a billing run taking some away):
// the listing the framework caches must not hide them.

#include <gtest/gtest.h>

#include <iostream>

#include "framework/Testing.h"
#include "support/InProcessProgram.h"
#include "support/TestEnvironment.h"
#include "ui/Window1.h"

namespace {

using tptest::Program;

void DeliverAndTick(const std::string& record) {
  App()->input.Append(record + "\r");
  Program::Tick();
}

fw::Int32 Rows() { return Program::FileList()->ListCount(); }

void CopyIn(const std::string& calls, int from, int to) {
  for (int i = from; i < to; ++i)
    tptest::WriteFile(calls + "/20200101000000" + std::to_string(i) + ".txt", "old " + std::to_string(i));
}
void TakeAway(const std::string& calls, int from, int to) {
  for (int i = from; i < to; ++i) unlink((calls + "/20200101000000" + std::to_string(i) + ".txt").c_str());
}

TEST(ListAccuracy, FilesCopiedInOrTakenAwayShowAtTheNextCallFile) {
  Program& p = Program::Shared(false);
  const std::string calls = p.FreshCallsFolder("calls");
  Window1()->updateFileList();
  DeliverAndTick("written by the program 1");
  ASSERT_EQ(Rows(), 1);

  CopyIn(calls, 0, 50);
  fw::testing::RunEventLoopFor(50);  // the program runs on as usual until its next tick
  DeliverAndTick("written by the program 2");
  EXPECT_EQ(Rows(), 52) << "files copied into Calls are missing from the list after the next call file";

  TakeAway(calls, 0, 20);
  fw::testing::RunEventLoopFor(50);
  DeliverAndTick("written by the program 3");
  EXPECT_EQ(Rows(), 33) << "files taken from Calls still show after the next call file";

  // A click on the count line rebuilds from the folder too.
  CopyIn(calls, 100, 101);
  fw::testing::RunEventLoopFor(50);
  Window1()->updateFileList();
  EXPECT_EQ(Rows(), 34);
  EXPECT_EQ(Program::Text("callStatus")->Text(), "34 calls collected");
}

// A change that lands just before a rebuild, with no turn of the event loop
// between (the tick already due when the copy finished), is in that rebuild.
TEST(ListAccuracy, ChangeRightBeforeARebuildIsInThatRebuild) {
  Program& p = Program::Shared(false);
  const std::string calls = p.FreshCallsFolder("calls-direct");
  Window1()->updateFileList();
  DeliverAndTick("written by the program 1");
  ASSERT_EQ(Rows(), 1);
  CopyIn(calls, 0, 10);
  DeliverAndTick("written by the program 2");
  EXPECT_EQ(Rows(), 12) << "copied files missing from the rebuild that followed the copy";
  TakeAway(calls, 0, 5);
  Window1()->updateFileList();
  EXPECT_EQ(Rows(), 7) << "files taken away still listed by the rebuild that followed";
}

}  // namespace
