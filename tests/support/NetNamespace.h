#pragma once
// A network namespace of the test's own, so that port 23 can be used
// without touching the host.
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace tptest {

// Moves the calling thread (and every process it starts afterwards) into a
// network namespace of its own with loopback up, and back on destruction.
// Root may do this; elsewhere ok() is false and why() says why.
class NetNamespace {
 public:
  NetNamespace() {
    saved_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (saved_ < 0) {
      why_ = std::string("cannot open own network namespace: ") + std::strerror(errno);
      return;
    }
    if (unshare(CLONE_NEWNET) != 0) {
      why_ = std::string("unshare(CLONE_NEWNET) not permitted here: ") + std::strerror(errno);
      close(saved_);
      saved_ = -1;
      return;
    }
    entered_ = true;
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    if (s < 0 || ioctl(s, SIOCGIFFLAGS, &ifr) != 0 || (ifr.ifr_flags |= IFF_UP, ioctl(s, SIOCSIFFLAGS, &ifr) != 0))
      why_ = std::string("cannot bring loopback up: ") + std::strerror(errno);
    else
      ok_ = true;
    if (s >= 0) close(s);
  }
  ~NetNamespace() {
    if (entered_ && setns(saved_, CLONE_NEWNET) != 0) std::abort();  // later tests must not run in here
    if (saved_ >= 0) close(saved_);
  }
  NetNamespace(const NetNamespace&) = delete;
  NetNamespace& operator=(const NetNamespace&) = delete;
  bool ok() const { return ok_; }
  const std::string& why() const { return why_; }

 private:
  int saved_ = -1;
  bool entered_ = false, ok_ = false;
  std::string why_;
};

}  // namespace tptest
