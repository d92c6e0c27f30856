#include "framework/ServerSocket.h"

#include "framework/qt/ServerSocketBacking.h"

namespace fw {

ServerSocket::ServerSocket() : b_(std::make_unique<Backing>(*this)) {}
ServerSocket::~ServerSocket() = default;

Int32 ServerSocket::Port() const { return b_->port; }
void ServerSocket::Port(Int32 port) { b_->port = port; }
Int32 ServerSocket::MinimumSocketsAvailable() const { return b_->minimumAvailable; }
void ServerSocket::MinimumSocketsAvailable(Int32 n) { b_->minimumAvailable = n; }
Int32 ServerSocket::MaximumSocketsConnected() const { return b_->maximumConnected; }
void ServerSocket::MaximumSocketsConnected(Int32 n) { b_->maximumConnected = n; }

void ServerSocket::Listen() { b_->Listen(); }
void ServerSocket::StopListening() { b_->StopListening(); }
bool ServerSocket::IsListening() const { return b_->IsListening(); }
Int32 ServerSocket::BoundPort() const { return b_->BoundPort(); }
std::vector<Ref<TCPSocket>> ServerSocket::ActiveConnections() const { return b_->ActiveConnections(); }

}  // namespace fw
