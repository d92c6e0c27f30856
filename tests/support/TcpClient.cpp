#include "support/TcpClient.h"

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace tptest {

TcpClient::TcpClient(int port, Family family) { ConnectOnce(port, family); }

bool TcpClient::ConnectOnce(int port, Family family) {
  Close();
  int rc = -1;
  if (family == Family::IPv6) {
    fd_ = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(static_cast<uint16_t>(port));
    a.sin6_addr = in6addr_loopback;
    if (fd_ >= 0) rc = connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  } else {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ >= 0) rc = connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  if (rc != 0) {
    Close();
    return false;
  }
  int one = 1;
  setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return true;
}

bool TcpClient::Connect(int port, milliseconds limit) {
  const auto end = SteadyClock::now() + limit;
  while (SteadyClock::now() < end) {
    if (ConnectOnce(port, Family::IPv4)) return true;
    std::this_thread::sleep_for(50ms);
  }
  return false;
}

bool TcpClient::Send(std::string_view data) {
  size_t off = 0;
  while (off < data.size()) {
    ssize_t n = send(fd_, data.data() + off, data.size() - off, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    off += static_cast<size_t>(n);
  }
  return true;
}

bool TcpClient::WaitAcked(milliseconds limit) {
  return WaitFor([&] {
    int pending = 0;
    return ioctl(fd_, SIOCOUTQ, &pending) == 0 && pending == 0;
  }, limit, 5ms);
}

void TcpClient::Reset() {
  if (fd_ < 0) return;
  linger l{1, 0};
  setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  Close();
}

void TcpClient::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

}  // namespace tptest
