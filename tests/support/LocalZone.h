#pragma once
// The test process in a time zone of the test's choosing; a program it
// starts inherits it.
#include "support/ScopedEnv.h"

namespace tptest {

// In a zone half an hour off any whole-hour zone, so that a stamp taken in
// UTC or with the wrong offset cannot pass for local time.
class LocalZone {
 public:
  LocalZone();

 private:
  // Destroyed after tz_, so that the zone is read again once TZ is put back.
  struct Reread {
    ~Reread();
  } reread_;
  ScopedEnv tz_;
};

}  // namespace tptest
