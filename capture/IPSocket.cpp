#include "capture/IPSocket.h"

#include "capture/App.h"
#include "capture/Input.h"
#include "capture/MainWindowControls.h"
#include "framework/Strings.h"

fw::ClassRecord IPSocket::Record() {
  return fw::ClassBuilder<IPSocket, fw::TCPSocket>("IPSocket", "TCPSocket")
      .Operations({"Event_DataAvailable", "Event_Error", "Event_Connected"})
      .Hook("DataAvailable", &IPSocket::Event_DataAvailable, "Event_DataAvailable")
      .Hook("Error", &IPSocket::Event_Error, "Event_Error")
      .Hook("Connected", &IPSocket::Event_Connected, "Event_Connected");
}

void IPSocket::Event_DataAvailable() {
  App()->resetTimeout();
  capture::AppendDelivery(line, ReadAll());
}

void IPSocket::Event_Error() {
  capture::PortStatus()->Text("IP Socket Error " + fw::Str(LastErrorCode()));
  // A connection that closed or reset sends no more of its line: what it
  // sent is a record now, and a reconnecting peer starts a new one.
  if (!IsConnected()) line.End();
}

void IPSocket::Event_Connected() { capture::PortStatus()->Text("Socket connected"); }
