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
#include "framework/system/FileDescriptor.h"

namespace fw::detail {

namespace {
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The pair the handler writes to and the loop reads from, and where a signal
// goes then. Process-wide because signal dispositions are, and a handler
// reaches nothing else.
struct Bridge {
  FileDescriptor toLoop;    // written by the handler
  FileDescriptor fromLoop;  // read on the event loop
  void (*deliver)(int) = nullptr;

  // The signals take their default action again before the pair goes, so a
  // late signal still ends the process and never writes to a reused number.
  void End() {
    for (int sig : kSignals) std::signal(sig, SIG_DFL);
    toLoop.Reset();
    fromLoop.Reset();
    deliver = nullptr;
  }
  ~Bridge() {
    if (toLoop) End();
  }
};
constinit Bridge bridge;

void OnSignal(int signo) {
  int saved = errno;
  unsigned char b = static_cast<unsigned char>(signo);
  // A full pipe already holds a pending signal; losing this byte is harmless.
  [[maybe_unused]] ssize_t n = ::write(bridge.toLoop.Get(), &b, 1);
  errno = saved;
}
}  // namespace

void InstallSignalBridge(void (*onSignal)(int)) {
  if (bridge.toLoop) return;
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) {
    std::perror("TallyPoint: cannot watch for termination signals: socketpair");
    return;
  }
  bridge.toLoop.Reset(fds[0]);
  bridge.fromLoop.Reset(fds[1]);
  bridge.deliver = onSignal;
  // Goes with the application object, and the bridge with it.
  auto* notifier = new QSocketNotifier(bridge.fromLoop.Get(), QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(notifier, &QObject::destroyed, [] { bridge.End(); });
  QObject::connect(notifier, &QSocketNotifier::activated, [] {
    unsigned char buf[64];
    ssize_t n;
    int first = 0;
    while ((n = ::read(bridge.fromLoop.Get(), buf, sizeof buf)) > 0)
      if (!first) first = buf[0];
    if (first && bridge.deliver) bridge.deliver(first);
  });

  struct sigaction sa {};
  sa.sa_handler = &OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : kSignals)
    if (::sigaction(sig, &sa, nullptr) != 0) std::perror("TallyPoint: sigaction");
}

}  // namespace fw::detail
