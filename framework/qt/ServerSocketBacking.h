#pragma once
// The QTcpServer behind a ServerSocket, and the queue of connections it
// accepted that wait for a free slot.

#include <QObject>
#include <QTcpServer>
#include <deque>
#include <functional>

#include "framework/ServerSocket.h"
#include "framework/qt/TcpSocketBacking.h"
#include "framework/system/FileDescriptor.h"

namespace fw {

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
  std::deque<detail::FileDescriptor> held_;  // accepted, waiting for a free slot
  std::vector<Ref<TCPSocket>> waiting_;
  std::vector<Ref<TCPSocket>> connected_;
};

}  // namespace fw
