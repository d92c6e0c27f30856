#pragma once
// The QTcpSocket behind a TCPSocket: one accepted connection.

#include <QObject>
#include <QTcpSocket>
#include <functional>

#include "framework/TCPSocket.h"

namespace fw {

class TCPSocket::Backing {
 public:
  explicit Backing(TCPSocket& owner);
  ~Backing();
  Backing(const Backing&) = delete;
  Backing& operator=(const Backing&) = delete;

  // Takes over an accepted connection. False (and the descriptor still the
  // caller's) when Qt refuses it.
  bool Attach(qintptr descriptor);
  // Already serving a connection, or done with one: a socket serves once.
  bool InUse() const { return sock_ != nullptr; }
  bool IsConnected() const;
  qintptr Descriptor() const { return sock_ ? sock_->socketDescriptor() : -1; }
  String ReadAll();
  void Close();

  Int32 lastError = 0;
  // Set by the server holding the socket: the connection is over, free its slot.
  std::function<void()> onEnded;

 private:
  // Marks a socket signal being handled, of any socket: a handler may let go
  // of another socket than its own, and a QTcpSocket must not be deleted
  // while it is emitting, so a backing that dies meanwhile defers the delete.
  class InSignal {
   public:
    InSignal() { ++depth_; }
    ~InSignal() { --depth_; }
    InSignal(const InSignal&) = delete;
    InSignal& operator=(const InSignal&) = delete;
    static bool Any() { return depth_ > 0; }

   private:
    // Process-wide: every socket's signals come from the one event loop, on
    // the one stack.
    static inline int depth_ = 0;
  };

  void OnReadyRead();
  void OnError(QAbstractSocket::SocketError error);
  void End(Int32 code);

  TCPSocket& owner_;
  QTcpSocket* sock_ = nullptr;
  String leftover_;  // taken from the connection as it ended, not yet read
  bool ended_ = false;
};

// The TCPSocket error code for what Qt reports.
Int32 SocketErrorCode(QAbstractSocket::SocketError e);

}  // namespace fw
