#include "capture/customPort.h"

#include "capture/App.h"
#include "capture/Input.h"
#include "capture/MainWindowControls.h"
#include "framework/Strings.h"

fw::ClassRecord customPort::Record() {
  return fw::ClassBuilder<customPort, fw::Serial>("customPort", "Serial")
      .Operations({"Event_DataAvailable", "Event_LineStateChanged", "Event_Error"})
      .Hook("DataAvailable", &customPort::Event_DataAvailable, "Event_DataAvailable")
      .Hook("LineStateChanged", &customPort::Event_LineStateChanged, "Event_LineStateChanged")
      .Hook("Error", &customPort::Event_Error, "Event_Error");
}

void customPort::Event_DataAvailable() {
  App()->resetTimeout();
  capture::AppendDelivery(line, ReadAll());
}

void customPort::Event_LineStateChanged(std::vector<fw::Int32> states) {
  // at(): a shorter array raises (and is reported) instead of reading past the end.
  capture::PortStatus()->Text("State Change " + fw::Str(states.at(1)));
}

void customPort::Event_Error() { capture::PortStatus()->Text("Serial Error"); }
