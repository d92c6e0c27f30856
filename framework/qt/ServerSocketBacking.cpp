#include "framework/qt/ServerSocketBacking.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "framework/Runtime.h"
#include "framework/RuntimeInternal.h"

namespace fw {

namespace {

// A peer that vanished without closing (cable pulled, host powered off) is
// noticed after about two minutes of silence instead of never.
void EnableKeepAlive(int fd) {
  const int on = 1, idle = 60, interval = 10, count = 6;
  if (setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0 ||
      setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle) != 0 ||
      setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval) != 0 ||
      setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count) != 0)
    std::fprintf(stderr, "TCP keepalive not enabled on an accepted connection: %s\n", std::strerror(errno));
}

}  // namespace

ServerSocket::Backing::Backing(ServerSocket& owner) : owner_(owner) {
  QObject::connect(&listener_, &QTcpServer::acceptError, &context_, [this](QAbstractSocket::SocketError e) {
    // Qt pauses the listener on a hard accept failure (such as running out
    // of descriptors); try again shortly rather than stop taking calls.
    std::fprintf(stderr, "TCP accept failed (%d); retrying\n", static_cast<int>(e));
    paused_ = true;
    QTimer::singleShot(1000, &context_, [this] { Serve(); });
  });
}

ServerSocket::Backing::~Backing() {
  for (auto& s : connected_) s->backing().onEnded = nullptr;
}

Int32 ServerSocket::Backing::BoundPort() const {
  return listener_.isListening() ? static_cast<Int32>(listener_.serverPort()) : 0;
}

void ServerSocket::Backing::Later(std::function<void()> fn) {
  QTimer::singleShot(0, &context_, [this, fn = std::move(fn)] {
    auto keep = detail::KeepAlive(owner_);
    fn();
  });
}

bool ServerSocket::Backing::Full(size_t extra) const {
  return maximumConnected > 0 && connected_.size() + extra >= static_cast<size_t>(maximumConnected);
}

void ServerSocket::Backing::Listen() {
  if (listener_.isListening()) listener_.close();
  paused_ = false;
  const auto p = static_cast<quint16>(port);
  bool ok = port >= 0 && port <= 65535 && listener_.listen(QHostAddress::Any, p);
  // A host without IPv6 still takes IPv4 connections.
  if (!ok && listener_.serverError() == QAbstractSocket::UnsupportedSocketOperationError)
    ok = listener_.listen(QHostAddress::AnyIPv4, p);
  if (!ok) {
    const Int32 code = (port < 0 || port > 65535) ? TCPSocket::OtherError : SocketErrorCode(listener_.serverError());
    // Reported from the event loop: Listen is called while the window that
    // handles the error is still being built.
    Later([this, code] { owner_.Error.Raise(code); });
    return;
  }
  Refill();
  Serve();
}

void ServerSocket::Backing::StopListening() {
  listener_.close();
  paused_ = false;
}

void ServerSocket::Backing::Incoming(qintptr descriptor) {
  EnableKeepAlive(static_cast<int>(descriptor));
  held_.emplace_back(static_cast<int>(descriptor));
  // Further connections stay in the kernel's backlog until a slot frees.
  if (Full(held_.size()) && !paused_) {
    listener_.pauseAccepting();
    paused_ = true;
  }
  ScheduleServe();
}

void ServerSocket::Backing::ScheduleServe() {
  if (serveScheduled_) return;
  serveScheduled_ = true;
  Later([this] { Serve(); });
}

void ServerSocket::Backing::Serve() {
  serveScheduled_ = false;
  while (!held_.empty() && !Full()) {
    detail::FileDescriptor fd = std::move(held_.front());
    held_.pop_front();
    Ref<TCPSocket> s = TakeSocket();
    if (!s->backing().Attach(fd.Get())) {
      std::fprintf(stderr, "TCP connection could not be taken over; closed\n");
      continue;
    }
    fd.Release();  // the socket's now
    TCPSocket* raw = s.get();
    s->backing().onEnded = [this, raw] { Later([this, raw] { Release(raw); }); };
    connected_.push_back(s);
    s->Connected.Raise();
    Refill();
  }
  const bool full = Full() || !held_.empty();
  if (listener_.isListening()) {
    if (full && !paused_) {
      listener_.pauseAccepting();
      paused_ = true;
    } else if (!full && paused_) {
      listener_.resumeAccepting();
      paused_ = false;
    }
  }
}

void ServerSocket::Backing::Refill() {
  for (Int32 asked = 0; asked < minimumAvailable && static_cast<Int32>(waiting_.size()) < minimumAvailable;
       ++asked) {
    Ref<TCPSocket> s = owner_.AddSocket.Raise();
    if (!s) break;
    if (s->backing().InUse() || std::find(waiting_.begin(), waiting_.end(), s) != waiting_.end()) continue;
    waiting_.push_back(s);
  }
}

Ref<TCPSocket> ServerSocket::Backing::TakeSocket() {
  if (waiting_.empty()) Refill();
  if (!waiting_.empty()) {
    Ref<TCPSocket> s = waiting_.front();
    waiting_.erase(waiting_.begin());
    if (!s->backing().InUse()) return s;
  }
  // Nothing usable offered: a plain socket still keeps the connection.
  auto plain = std::make_shared<TCPSocket>();
  if (const ClassRecord* rec = FindClass(std::type_index(typeid(TCPSocket)))) AttachRecord(*plain, rec);
  return Ref<TCPSocket>(plain);
}

void ServerSocket::Backing::Release(TCPSocket* socket) {
  auto it = std::find_if(connected_.begin(), connected_.end(), [socket](const Ref<TCPSocket>& s) {
    return s.get() == socket;
  });
  if (it == connected_.end()) return;
  connected_.erase(it);
  Serve();
}

}  // namespace fw
