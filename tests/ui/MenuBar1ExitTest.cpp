// The module exit hook lets the one menu bar go at the end of the run.
#include <gtest/gtest.h>

#include "ui/MenuBar1.h"

namespace {

TEST(MenuBarExit, FinalisationReleasesTheSingleInstance) {
  std::weak_ptr<class MenuBar1> held = MenuBar1().shared();
  ASSERT_FALSE(held.expired());
  fw::RuntimeModuleFinalization();
  EXPECT_TRUE(held.expired());
}

}  // namespace
