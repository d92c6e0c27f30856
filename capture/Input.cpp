#include "capture/Input.h"

#include "capture/App.h"
#include "capture/SourceLines.h"
#include "capture/secondTimer.h"
#include "framework/Strings.h"

namespace capture {

fw::String NormaliseInput(const fw::String& raw) {
  fw::String s = fw::ReplaceAll(raw, fw::Chr(10), fw::Chr(13));
  s = fw::ReplaceAll(s, fw::Chr(13) + fw::Chr(13), fw::Chr(13));
  return fw::ReplaceAll(s, fw::Chr(0), "");
}

void AppendDelivery(SourceLine& source, const fw::String& raw) {
  App()->input.Deliver(source, NormaliseInput(raw));
  // Armed even for an empty delivery; an armed timer keeps its wait.
  App()->regularTimer->Mode(1);
}

}  // namespace capture
