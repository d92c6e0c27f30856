// Entry point of the program's test executables: the runtime headless, the
// framework's classes and then the program's registered, as at start-up.
#include <gtest/gtest.h>

#include <cstdlib>

#include "capture/Startup.h"
#include "framework/Runtime.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  fw::RuntimeInit(argc, argv);
  fw::RegisterFrameworkClasses();
  startup::RegisterProgramClasses();
  return RUN_ALL_TESTS();
}
