#pragma once
// The mode a new file takes: what open(..., 0666) would give it.
#include <sys/types.h>

namespace fw::detail {

// 0666 less the process's umask, learnt once. The umask is process-wide and,
// where /proc cannot be read, can only be learnt by setting it and putting it
// back: a file made by another thread in between would take the wrong mode.
// So the runtime asks first, before it starts any thread; every later call
// returns the value learnt then.
mode_t NewFileMode();

}  // namespace fw::detail
