// Placeholder entry point until the program's start-up exists: runs the event loop.
#include "framework/Application.h"

int main(int argc, char** argv) {
  fw::RuntimeInit(argc, argv);
  fw::RegisterFrameworkClasses();
  fw::_RuntimeRun();
  fw::RuntimeModuleFinalization();
  return fw::RuntimeExit();
}
