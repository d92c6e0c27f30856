#pragma once
// A plain blocking TCP client on the loopback interface.
#include <string_view>

#include "support/NotCopied.h"
#include "support/WaitFor.h"

namespace tptest {

class TcpClient : NotCopied {
 public:
  enum class Family { IPv4, IPv6 };
  TcpClient() = default;
  // Connects once; connected() tells whether it worked.
  explicit TcpClient(int port, Family family = Family::IPv4);
  ~TcpClient() { Close(); }

  // Tries until limit, for a listener that may not be up yet.
  bool Connect(int port, milliseconds limit = 5000ms);
  bool connected() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  // Sends all of data; false when the connection is gone.
  bool Send(std::string_view data);
  // Waits until the peer's kernel has acknowledged everything sent.
  bool WaitAcked(milliseconds limit);
  // Ends the connection with a reset instead of an orderly close.
  void Reset();
  void Close();

 private:
  bool ConnectOnce(int port, Family family);
  int fd_ = -1;
};

}  // namespace tptest
