#include "capture/secondTimer.h"

#include "capture/App.h"
#include "capture/CallFile.h"
#include "capture/MainWindowControls.h"
#include "framework/Event.h"
#include "framework/Strings.h"

fw::ClassRecord secondTimer::Record() {
  return fw::ClassBuilder<secondTimer, fw::Timer>("secondTimer", "Timer")
      .Operations({"Event_Action", "writeFile"})
      .Hook("Action", &secondTimer::Event_Action, "Event_Action");
}

// One record per tick. No handler here: a call file that cannot be written
// leaves the tick with the record still in the buffer and the timer re-armed,
// so the next tick tries again.
void secondTimer::Event_Action() {
  App()->lines.CloseExpired();
  capture::BufferView()->Text(App()->buffer);
  if (App()->buffer == "") {
    capture::PortStatus()->Text("Idle");
    return;
  }
  capture::PortStatus()->Text("Processing data (" + fw::Str(fw::Len(App()->buffer)) + ")");
  Mode(1);
  fw::Int32 pos = fw::InStr(App()->buffer, fw::Chr(13));
  if (pos > 0) {
    if (pos > 1) writeFile(fw::Left(App()->buffer, pos - 1));
    // Swapped in, not assigned: a short rest copied into the old storage
    // would keep all of its capacity.
    fw::String rest = fw::Mid(App()->buffer, pos + 1);
    App()->buffer.swap(rest);
    App()->resetTimeout();
    App()->lines.LineTaken();
  } else {
    fw::Ref<fw::Date> now = fw::New<fw::Date>();
    // Strictly later: a tick that falls on the deadline itself waits. The
    // buffer's deadline, or that of the source whose line this is, when
    // another source's data has moved the buffer's.
    if (now->Compare(*App()->timeout) > 0 || App()->lines.OpenEndExpired(*now)) {
      try {
        writeFile(App()->buffer);
      } catch (...) {
        // Past its deadline the line is a record of its own: what comes next
        // must not be glued to it while it waits to be written.
        App()->lines.CloseOpenEnd();
        throw;
      }
      fw::String().swap(App()->buffer);  // an emptied flood must not stay resident
    }
  }
}

void secondTimer::writeFile(const fw::String& s) {
  capture::WriteCallFile(*this, s);
  // The call file is made: whatever the list rebuild meets, the record must
  // still leave the buffer, or every later tick would bill it again.
  try {
    Window1()->updateFileList();
  } catch (const std::exception& e) {
    fw::RuntimeUnhandledException(e, "Window1.updateFileList");
  }
}
