// Termination signals reach the event loop through a self-pipe: the handler
// itself only writes one byte, everything else runs as an ordinary event.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdio>

#include "framework/RuntimeInternal.h"

namespace fw::detail {

namespace {
int pipeFds[2] = {-1, -1};
void (*deliver)(int) = nullptr;

void OnSignal(int signo) {
  int saved = errno;
  unsigned char b = static_cast<unsigned char>(signo);
  // A full pipe already holds a pending signal; losing this byte is harmless.
  [[maybe_unused]] ssize_t n = ::write(pipeFds[0], &b, 1);
  errno = saved;
}
}  // namespace

void InstallSignalBridge(void (*onSignal)(int)) {
  if (pipeFds[0] >= 0) return;
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pipeFds) != 0) {
    std::perror("TallyPoint: cannot watch for termination signals: socketpair");
    return;
  }
  deliver = onSignal;
  // Goes with the application object; after that the signals take their
  // default action again, so a late SIGTERM still ends the process.
  auto* notifier = new QSocketNotifier(pipeFds[1], QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(notifier, &QObject::destroyed, [] {
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) std::signal(sig, SIG_DFL);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
    deliver = nullptr;
  });
  QObject::connect(notifier, &QSocketNotifier::activated, [] {
    unsigned char buf[64];
    ssize_t n;
    int first = 0;
    while ((n = ::read(pipeFds[1], buf, sizeof buf)) > 0)
      if (!first) first = buf[0];
    if (first && deliver) deliver(first);
  });

  struct sigaction sa {};
  sa.sa_handler = &OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGINT, SIGHUP})
    if (::sigaction(sig, &sa, nullptr) != 0) std::perror("TallyPoint: sigaction");
}

}  // namespace fw::detail
