#include "framework/qt/Registration.h"

namespace fw::detail {

void RegisterGuiClasses() {}

}  // namespace fw::detail
