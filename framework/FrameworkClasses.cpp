#include "framework/Runtime.h"
#include "framework/Registration.h"

namespace fw {

void RegisterFrameworkClasses() {
  detail::RegisterCoreClasses();
  detail::RegisterNetworkClasses();
  detail::RegisterGuiClasses();
}

}  // namespace fw
