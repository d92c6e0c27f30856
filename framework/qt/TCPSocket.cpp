#include "framework/TCPSocket.h"

#include "framework/qt/TcpSocketBacking.h"

namespace fw {

TCPSocket::TCPSocket() : b_(std::make_unique<Backing>(*this)) {}
TCPSocket::~TCPSocket() = default;

String TCPSocket::ReadAll() { return b_->ReadAll(); }
Int32 TCPSocket::LastErrorCode() const { return b_->lastError; }
bool TCPSocket::IsConnected() const { return b_->IsConnected(); }
void TCPSocket::Close() { b_->Close(); }

}  // namespace fw
