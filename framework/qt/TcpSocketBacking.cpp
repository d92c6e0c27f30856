#include "framework/qt/TcpSocketBacking.h"

#include "framework/RuntimeInternal.h"

namespace fw {

Int32 SocketErrorCode(QAbstractSocket::SocketError e) {
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

TCPSocket::Backing::Backing(TCPSocket& owner) : owner_(owner) {}

TCPSocket::Backing::~Backing() {
  if (!sock_) return;
  QObject::disconnect(sock_, nullptr, nullptr, nullptr);
  sock_->abort();
  if (InSignal::Any()) sock_->deleteLater();
  else delete sock_;
}

constexpr qint64 kReadSlice = 64 * 1024;

bool TCPSocket::Backing::Attach(qintptr descriptor) {
  if (sock_) return false;
  auto* s = new QTcpSocket;
  if (!s->setSocketDescriptor(descriptor)) {
    lastError = SocketErrorCode(s->error());
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
  auto keep = detail::KeepAlive(owner_);
  if (!ended_) owner_.DataAvailable.Raise();
}

void TCPSocket::Backing::OnError(QAbstractSocket::SocketError e) {
  // Errors that leave the connection standing are not its end.
  if (sock_->state() == QAbstractSocket::ConnectedState && SocketErrorCode(e) != LostConnection) {
    lastError = SocketErrorCode(e);
    return;
  }
  End(SocketErrorCode(e));
}

void TCPSocket::Backing::End(Int32 code) {
  if (ended_) return;
  ended_ = true;
  InSignal guard;
  auto keep = detail::KeepAlive(owner_);
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

}  // namespace fw
