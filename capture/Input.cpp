#include "capture/Input.h"

#include "capture/App.h"
#include "capture/secondTimer.h"
#include "framework/Strings.h"

namespace capture {

fw::String NormaliseInput(const fw::String& raw) {
  fw::String s = fw::ReplaceAll(raw, fw::Chr(10), fw::Chr(13));
  s = fw::ReplaceAll(s, fw::Chr(13) + fw::Chr(13), fw::Chr(13));
  return fw::ReplaceAll(s, fw::Chr(0), "");
}

void AppendDelivery(const fw::String& raw) {
  fw::String text = NormaliseInput(raw);
  // Appended in place: a flood without a line end must not copy the whole
  // buffer on every delivery. An empty buffer takes the delivery itself, and
  // lets go of any storage it still had.
  if (App()->buffer.empty())
    App()->buffer.swap(text);
  else
    App()->buffer += text;
  // Armed even for an empty delivery; an armed timer keeps its wait.
  App()->regularTimer->Mode(1);
}

}  // namespace capture
