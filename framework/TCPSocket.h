#pragma once
#include "framework/Event.h"

namespace fw {

// One TCP connection, handed to a ServerSocket through its AddSocket event.
class TCPSocket : public Object {
 public:
  static constexpr Int32 LostConnection = 102;   // the peer closed or reset the connection
  static constexpr Int32 AddressInUse = 105;
  static constexpr Int32 NoPermission = 106;      // e.g. a port below 1024 without the right
  static constexpr Int32 OtherError = 100;

  TCPSocket();
  ~TCPSocket() override;
  String ReadAll();
  Int32 LastErrorCode() const;
  bool IsConnected() const;
  void Close();

  Event<void()> DataAvailable{this, "DataAvailable"};
  Event<void()> Error{this, "Error"};
  Event<void()> Connected{this, "Connected"};

  class Backing;
  Backing& backing() { return *b_; }

 private:
  std::unique_ptr<Backing> b_;
};

}  // namespace fw
