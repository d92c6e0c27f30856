#include "support/LocalZone.h"

#include <ctime>

namespace tptest {

LocalZone::LocalZone() : tz_("TZ", std::string(kTestZone)) { tzset(); }

LocalZone::Reread::~Reread() { tzset(); }

}  // namespace tptest
