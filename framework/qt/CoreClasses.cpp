#include "framework/qt/Registration.h"

namespace fw::detail {

void RegisterCoreClasses() {}

}  // namespace fw::detail
