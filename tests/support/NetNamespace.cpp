#include "support/NetNamespace.h"

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "support/Files.h"

namespace tptest {

static std::string Failed(const std::string& what) { return what + ": " + std::strerror(errno); }

static bool BringLoopbackUp(std::string& why) {
  int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) {
    why = Failed("socket");
    return false;
  }
  ifreq ifr{};
  std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
  bool ok = ioctl(s, SIOCGIFFLAGS, &ifr) == 0;
  if (ok) {
    ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP | IFF_RUNNING);
    ok = ioctl(s, SIOCSIFFLAGS, &ifr) == 0;
  }
  if (!ok) why = Failed("cannot bring loopback up");
  close(s);
  return ok;
}

NetNamespace::NetNamespace() {
  saved_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  if (saved_ < 0) {
    why_ = Failed("cannot open own network namespace");
    return;
  }
  if (unshare(CLONE_NEWNET) != 0) {
    why_ = Failed("unshare(CLONE_NEWNET) not permitted here");
    close(saved_);
    saved_ = -1;
    return;
  }
  entered_ = true;
  ok_ = BringLoopbackUp(why_);
}

NetNamespace::~NetNamespace() {
  if (entered_ && setns(saved_, CLONE_NEWNET) != 0) std::abort();  // later tests must not run in here
  if (saved_ >= 0) close(saved_);
}

Namespaces EnterPrivateNamespaces(bool wantNet, bool wantMount) {
  Namespaces ns;
  if (wantNet) {
    if (unshare(CLONE_NEWNET) != 0) ns.netWhy = Failed("unshare(CLONE_NEWNET)");
    else ns.net = BringLoopbackUp(ns.netWhy);
  }
  if (wantMount) {
    if (unshare(CLONE_NEWNS) != 0) ns.mountWhy = Failed("unshare(CLONE_NEWNS)");
    else if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) ns.mountWhy = Failed("making / private");
    else ns.mount = true;
  }
  return ns;
}

Namespaces EnterPrivateNetwork(bool quiet) {
  Namespaces ns = EnterPrivateNamespaces(true, false);
  if (!ns.net && !quiet)
    std::fprintf(stderr, "note: no private network namespace (%s); the program's port 23 is shared\n", ns.netWhy.c_str());
  return ns;
}

bool TcpListening(int port) {
  char hex[8];
  std::snprintf(hex, sizeof hex, ":%04X", port);
  for (const char* table : {"/proc/thread-self/net/tcp", "/proc/thread-self/net/tcp6"}) {
    std::stringstream in(ReadFile(table));
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
      std::stringstream f(line);
      std::string slot, local, remote, state;
      f >> slot >> local >> remote >> state;
      if (state == "0A" && local.size() > 5 && local.compare(local.size() - 5, 5, hex) == 0) return true;
    }
  }
  return false;
}

}  // namespace tptest
