#include "support/LocalZone.h"

#include <ctime>

namespace tptest {

LocalZone::LocalZone() : tz_("TZ", std::string("TPT-05:30")) { tzset(); }

LocalZone::Reread::~Reread() { tzset(); }

}  // namespace tptest
