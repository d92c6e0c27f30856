#pragma once
// The Qt objects behind TCPSocket and ServerSocket.

#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <deque>
#include <functional>

#include "framework/ServerSocket.h"
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
  void OnReadyRead();
  void OnError(QAbstractSocket::SocketError error);
  void End(Int32 code);

  TCPSocket& owner_;
  QTcpSocket* sock_ = nullptr;
  String leftover_;  // taken from the connection as it ended, not yet read
  bool ended_ = false;
};

class ServerSocket::Backing {
 public:
  explicit Backing(ServerSocket& owner);
  ~Backing();
  Backing(const Backing&) = delete;
  Backing& operator=(const Backing&) = delete;

  Int32 port = 0;
  Int32 minimumAvailable = 1;
  Int32 maximumConnected = 2;  // 0 or less: no cap

  void Listen();
  void StopListening();
  bool IsListening() const { return listener_.isListening(); }
  Int32 BoundPort() const;
  std::vector<Ref<TCPSocket>> ActiveConnections() const { return connected_; }

 private:
  // Accepted descriptors are queued, not served inside Qt's accept loop: the
  // program's handlers run later, from the event loop.
  class Listener : public QTcpServer {
   public:
    explicit Listener(Backing& b) : b_(b) {}

   protected:
    void incomingConnection(qintptr descriptor) override { b_.Incoming(descriptor); }

   private:
    Backing& b_;
  };

  void Incoming(qintptr descriptor);
  void Serve();
  void ScheduleServe();
  void Refill();
  Ref<TCPSocket> TakeSocket();
  void Release(TCPSocket* socket);
  bool Full(size_t extra = 0) const;
  void Later(std::function<void()> fn);

  ServerSocket& owner_;
  QObject context_;  // queued work dies with the backing
  Listener listener_{*this};
  bool paused_ = false;
  bool serveScheduled_ = false;
  std::deque<qintptr> held_;  // accepted, waiting for a free slot
  std::vector<Ref<TCPSocket>> waiting_;
  std::vector<Ref<TCPSocket>> connected_;
};

}  // namespace fw
