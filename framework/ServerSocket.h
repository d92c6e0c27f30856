#pragma once
#include "framework/TCPSocket.h"

namespace fw {

// A listener on every interface (IPv4 and IPv6). It keeps
// MinimumSocketsAvailable sockets, obtained through AddSocket, waiting for
// connections and at most MaximumSocketsConnected connected; a further
// connection waits, neither refused nor dropped, until a slot frees.
// Accepted connections use TCP keepalive.
class ServerSocket : public Object {
 public:
  ServerSocket();
  ~ServerSocket() override;
  Int32 Port() const;
  void Port(Int32 port);
  Int32 MinimumSocketsAvailable() const;
  void MinimumSocketsAvailable(Int32 n);
  Int32 MaximumSocketsConnected() const;
  void MaximumSocketsConnected(Int32 n);
  void Listen();  // failure raises Error with a TCPSocket code
  void StopListening();
  bool IsListening() const;
  // The port actually listened on (a Port of 0 takes any free one); 0 when not listening.
  Int32 BoundPort() const;
  std::vector<Ref<TCPSocket>> ActiveConnections() const;

  Event<Ref<TCPSocket>()> AddSocket{this, "AddSocket"};
  Event<void(Int32)> Error{this, "Error"};

  class Backing;

 private:
  std::unique_ptr<Backing> b_;
};

}  // namespace fw
