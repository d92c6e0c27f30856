#include "support/ScopedEnv.h"

#include <cstdlib>

namespace tptest {

static void Put(const std::string& name, const std::optional<std::string>& value) {
  if (value) setenv(name.c_str(), value->c_str(), 1);
  else unsetenv(name.c_str());
}

ScopedEnv::ScopedEnv(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
  if (const char* v = getenv(name_.c_str())) old_ = v;
  Put(name_, value);
}

ScopedEnv::~ScopedEnv() { Put(name_, old_); }

}  // namespace tptest
