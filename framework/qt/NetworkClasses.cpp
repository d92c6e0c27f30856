#include "framework/qt/Registration.h"

namespace fw::detail {

void RegisterNetworkClasses() {}

}  // namespace fw::detail
