#include "capture/secondTimer.h"

#include <algorithm>

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

namespace {

void RebuildList() {
  // The call files are made: whatever the list rebuild meets, their records
  // must still leave the buffer, or every later tick would bill them again.
  try {
    Window1()->updateFileList();
  } catch (const std::exception& e) {
    fw::RuntimeUnhandledException(e, "Window1.updateFileList");
  }
}

}  // namespace

// One record per tick. A call file that cannot be written leaves the tick
// through its exception, which goes on to the unhandled-exception routine:
// the record is still in the buffer and the timer re-armed, so the next tick
// tries again. A line past its deadline is first closed on the way out.
void secondTimer::Event_Action() {
  capture::InputBuffer& input = App()->input;
  input.CloseExpired();
  capture::BufferView()->Text(App()->buffer());
  if (App()->buffer() == "") {
    capture::PortStatus()->Text("Idle");
    return;
  }
  capture::PortStatus()->Text("Processing data (" + fw::Str(fw::Len(App()->buffer())) + ")");
  Mode(1);
  fw::Int32 pos = fw::InStr(App()->buffer(), fw::Chr(13));
  if (pos > 0) {
    if (pos > 1) writeFile(fw::Left(App()->buffer(), pos - 1));
    input.TakeLine();
    App()->resetTimeout();
  } else {
    fw::Ref<fw::Date> now = fw::New<fw::Date>();
    // Strictly later: a tick that falls on the deadline itself waits. The
    // buffer's deadline, or that of the source whose line this is, when
    // another source's data has moved the buffer's.
    if (now->Compare(*App()->timeout) > 0 || input.OpenEndExpired(*now)) {
      try {
        writeFile(App()->buffer());
      } catch (...) {
        // Past its deadline the line is a record of its own: what comes next
        // must not be glued to it while it waits to be written.
        input.CloseOpenEnd();
        throw;
      }
      input.TakeAll();
    }
  }
}

void secondTimer::writeFile(const fw::String& s) {
  capture::WriteCallFile(*this, s);
  RebuildList();
}

std::vector<bool> secondTimer::writeFiles(const std::vector<std::string_view>& records) {
  // Reported as a tick's failure is; the record stays in the buffer.
  auto failed = [](std::size_t, const std::exception& e) { fw::RuntimeUnhandledException(e, "secondTimer.writeFile"); };
  std::vector<bool> written = capture::WriteCallFiles(*this, records, true, failed);
  if (std::find(written.begin(), written.end(), true) != written.end()) RebuildList();
  return written;
}
