#include "framework/qt/TcpBacking.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "framework/Runtime.h"

namespace fw {

namespace {

// Depth of socket signal handling on the stack. A QTcpSocket must not be
// deleted while it is emitting; a backing that dies then defers the delete.
int g_signalDepth = 0;
struct InSignal {
  InSignal() { ++g_signalDepth; }
  ~InSignal() { --g_signalDepth; }
  InSignal(const InSignal&) = delete;
  InSignal& operator=(const InSignal&) = delete;
};

std::shared_ptr<Object> KeepAlive(Object& o) { return o.weak_from_this().lock(); }

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

Int32 CodeFor(QAbstractSocket::SocketError e) {
  switch (e) {
    case QAbstractSocket::RemoteHostClosedError:
    case QAbstractSocket::NetworkError:
    case QAbstractSocket::SocketTimeoutError:
      return TCPSocket::LostConnection;
    case QAbstractSocket::AddressInUseError:
      return TCPSocket::AddressInUse;
    case QAbstractSocket::SocketAccessError:
      return TCPSocket::NoPermission;
    default:
      return TCPSocket::OtherError;
  }
}

}  // namespace

// ---- TCPSocket::Backing ----

TCPSocket::Backing::Backing(TCPSocket& owner) : owner_(owner) {}

TCPSocket::Backing::~Backing() {
  if (!sock_) return;
  QObject::disconnect(sock_, nullptr, nullptr, nullptr);
  sock_->abort();
  if (g_signalDepth > 0) sock_->deleteLater();
  else delete sock_;
}

constexpr qint64 kReadSlice = 64 * 1024;

bool TCPSocket::Backing::Attach(qintptr descriptor) {
  if (sock_) return false;
  auto* s = new QTcpSocket;
  if (!s->setSocketDescriptor(descriptor)) {
    lastError = CodeFor(s->error());
    delete s;
    return false;
  }
  // A flood is taken in slices: each delivery stays small, so the window
  // stays responsive, and the kernel holds the rest back from the sender.
  s->setReadBufferSize(kReadSlice);
  sock_ = s;
  QObject::connect(s, &QTcpSocket::readyRead, [this] { OnReadyRead(); });
  QObject::connect(s, &QTcpSocket::errorOccurred, [this](QAbstractSocket::SocketError e) { OnError(e); });
  QObject::connect(s, &QTcpSocket::disconnected, [this] { End(LostConnection); });
  return true;
}

bool TCPSocket::Backing::IsConnected() const {
  return sock_ && !ended_ && sock_->state() == QAbstractSocket::ConnectedState;
}

String TCPSocket::Backing::ReadAll() {
  String out;
  out.swap(leftover_);
  if (sock_ && sock_->isReadable()) {
    const QByteArray more = sock_->readAll();
    out.append(more.constData(), static_cast<size_t>(more.size()));
  }
  return out;
}

void TCPSocket::Backing::Close() {
  if (!sock_ || ended_) return;
  ended_ = true;  // closed by us: not an error to report
  leftover_ += ReadAll();
  QObject::disconnect(sock_, nullptr, nullptr, nullptr);
  sock_->abort();
  if (auto done = std::move(onEnded)) done();
}

void TCPSocket::Backing::OnReadyRead() {
  InSignal guard;
  auto keep = KeepAlive(owner_);
  if (!ended_) owner_.DataAvailable.Raise();
}

void TCPSocket::Backing::OnError(QAbstractSocket::SocketError e) {
  // Errors that leave the connection standing are not its end.
  if (sock_->state() == QAbstractSocket::ConnectedState && CodeFor(e) != LostConnection) {
    lastError = CodeFor(e);
    return;
  }
  End(CodeFor(e));
}

void TCPSocket::Backing::End(Int32 code) {
  if (ended_) return;
  ended_ = true;
  InSignal guard;
  auto keep = KeepAlive(owner_);
  // What the peer sent before it went is delivered before the loss.
  if (sock_->isReadable()) {
    const QByteArray rest = sock_->readAll();
    leftover_.append(rest.constData(), static_cast<size_t>(rest.size()));
  }
  if (!leftover_.empty()) owner_.DataAvailable.Raise();
  lastError = code;
  owner_.Error.Raise();
  if (auto done = std::move(onEnded)) done();
}

// ---- ServerSocket::Backing ----

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
  for (qintptr fd : held_) ::close(static_cast<int>(fd));
}

Int32 ServerSocket::Backing::BoundPort() const {
  return listener_.isListening() ? static_cast<Int32>(listener_.serverPort()) : 0;
}

void ServerSocket::Backing::Later(std::function<void()> fn) {
  QTimer::singleShot(0, &context_, [this, fn = std::move(fn)] {
    auto keep = KeepAlive(owner_);
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
    const Int32 code = (port < 0 || port > 65535) ? TCPSocket::OtherError : CodeFor(listener_.serverError());
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
  held_.push_back(descriptor);
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
    const qintptr fd = held_.front();
    held_.pop_front();
    Ref<TCPSocket> s = TakeSocket();
    if (!s->backing().Attach(fd)) {
      std::fprintf(stderr, "TCP connection could not be taken over; closed\n");
      ::close(static_cast<int>(fd));
      continue;
    }
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
