#pragma once
// Namespaces of the test's own, so that port 23 and mounts can be used
// without touching the host. Root may do this; elsewhere the reason is given.
#include <string>

#include "support/NotCopied.h"

namespace tptest {

// Moves the calling thread (and every process it starts afterwards) into a
// network namespace of its own with loopback up, and back on destruction.
class NetNamespace : NotCopied {
 public:
  NetNamespace();
  ~NetNamespace();
  bool ok() const { return ok_; }
  const std::string& why() const { return why_; }

 private:
  int saved_ = -1;
  bool entered_ = false, ok_ = false;
  std::string why_;
};

struct Namespaces {
  bool net = false;    // own network namespace with loopback up: port 23 is ours
  bool mount = false;  // private mount namespace: our mounts stay ours
  std::string netWhy, mountWhy;
};

// The whole process, for good. Must run before the process has threads (call
// it from a static initialiser): a multithreaded process cannot move them all.
Namespaces EnterPrivateNamespaces(bool wantNet, bool wantMount);

// For a benchmark's main(): the process in a network namespace of its own, so
// that the program's port 23 is not the host's; where it cannot be, a note on
// standard error says why, unless quiet.
Namespaces EnterPrivateNetwork(bool quiet = false);

// True when something in this thread's network namespace listens on port.
bool TcpListening(int port);

}  // namespace tptest
