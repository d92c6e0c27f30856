#pragma once
#include "capture/SourceLines.h"
#include "framework/TCPSocket.h"

// One TCP connection on which call records arrive.
class IPSocket : public fw::TCPSocket {
 public:
  static fw::ClassRecord Record();
  void Event_DataAvailable();
  void Event_Error();
  void Event_Connected();

  // The record this connection is in the middle of, kept apart from the other inputs.
  capture::SourceLine line{"a TCP connection"};
};
