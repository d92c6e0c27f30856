#include "framework/Runtime.h"
#include "framework/Serial.h"
#include "framework/SerialPort.h"
#include "framework/ServerSocket.h"
#include "framework/TCPSocket.h"
#include "framework/Registration.h"

namespace fw::detail {

void RegisterNetworkClasses() {
  RegisterClass(ClassBuilder<Serial, Object>("Serial", "Object"));
  RegisterClass(ClassBuilder<fw::SerialPort, Object>("SerialPort", "Object"));
  RegisterClass(ClassBuilder<TCPSocket, Object>("TCPSocket", "Object"));
  RegisterClass(ClassBuilder<ServerSocket, Object>("ServerSocket", "Object")
                    .Property("Port", PropType::Int32,
                              [](ServerSocket& s, const PropValue& v) { s.Port(std::get<Int32>(v)); })
                    .Property("MinimumSocketsAvailable", PropType::Int32,
                              [](ServerSocket& s, const PropValue& v) {
                                s.MinimumSocketsAvailable(std::get<Int32>(v));
                              })
                    .Property("MaximumSocketsConnected", PropType::Int32,
                              [](ServerSocket& s, const PropValue& v) {
                                s.MaximumSocketsConnected(std::get<Int32>(v));
                              }));
}

}  // namespace fw::detail
