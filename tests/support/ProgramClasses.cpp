#include "support/TestEnvironment.h"

namespace tptest {

// Filled in once the program's classes exist.
void RegisterProgramClassesForTests() {}

}  // namespace tptest
