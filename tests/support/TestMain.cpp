// Entry point of every test executable: the runtime is started headless
// with the framework's classes registered, as the program itself does.
#include <gtest/gtest.h>

#include <cstdlib>

#include "framework/Runtime.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  fw::RuntimeInit(argc, argv);
  fw::RegisterFrameworkClasses();
  return RUN_ALL_TESTS();
}
