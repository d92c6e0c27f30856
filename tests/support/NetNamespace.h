#pragma once
// Namespaces of the test's own, so that port 23 and mounts can be used
// without touching the host. Root may do this; elsewhere the reason is given.
#include <string>

namespace tptest {

// Moves the calling thread (and every process it starts afterwards) into a
// network namespace of its own with loopback up, and back on destruction.
class NetNamespace {
 public:
  NetNamespace();
  ~NetNamespace();
  NetNamespace(const NetNamespace&) = delete;
  NetNamespace& operator=(const NetNamespace&) = delete;
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

// True when something in this thread's network namespace listens on port.
bool TcpListening(int port);

}  // namespace tptest
