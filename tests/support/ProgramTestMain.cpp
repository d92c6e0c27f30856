// Entry point of the program's test executables: the runtime headless, the
// framework's classes and then the program's registered, as at start-up.
#include <gtest/gtest.h>

#include "support/InProcessProgram.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  tptest::StartRuntime(argc, argv);
  return RUN_ALL_TESTS();
}
