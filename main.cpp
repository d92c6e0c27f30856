// Entry point: runtime, class registration, the run, finalisation, exit.
#include "capture/Startup.h"
#include "framework/Application.h"

int main(int argc, char** argv) {
  fw::RuntimeInit(argc, argv);
  fw::RegisterFrameworkClasses();
  startup::RegisterProgramClasses();
  startup::_Main();
  fw::RuntimeModuleFinalization();
  return fw::RuntimeExit();
}
