#pragma once
// Seams for tests, in the framework_testing library (framework/testing/);
// the shipped program does not link it.
//
// From outside the process: when TALLYPOINT_MODAL_LOG names a file, modal
// dialogs are not shown; each appends one line to that file
// ("MsgBox<TAB>text" or "MessageDialog<TAB>message") and is answered with
// its action button.

#include <functional>

#include "framework/Seams.h"
#include "framework/Window.h"

namespace fw {
class RectControl;
class MenuItem;
}

namespace fw::testing {

using ModalRequest = fw::ModalRequest;
using ModalAnswer = fw::ModalAnswer;

// Answers every modal dialog in-process until cleared.
void SetModalAnswerer(std::function<ModalAnswer(const ModalRequest&)> answerer);
void ClearModalAnswerer();

// Adds seconds to the wall clock that every new Date reads, as if the
// machine's clock had been stepped; the monotonic clock is left alone. 0
// puts it back.
void ShiftWallClock(double seconds);

// Runs the event loop until cond holds or the time is up; returns cond().
bool RunEventLoopUntil(const std::function<bool()>& cond, int timeoutMs);
void RunEventLoopFor(int ms);

struct Image {
  Int32 width = 0, height = 0;
  std::vector<std::uint32_t> argb;
  Color Pixel(Int32 x, Int32 y) const;
};
// The window's content area as drawn now (menu bar excluded).
Image RenderWindow(Ref<Window> w);
// The whole window, menu bar included, to a PNG file. Returns success.
bool SaveWindowPng(Ref<Window> w, const String& path);

// What a user's click or choice would do.
void Click(Ref<RectControl> control, Int32 x = 1, Int32 y = 1);
void ChooseRow(Ref<RectControl> popup, Int32 row);  // PopupMenu: select and raise Change
bool ChooseMenuItem(Ref<MenuItem> item);

// Focus order among the window's controls that take focus, by name.
std::vector<String> TabOrder(Ref<Window> w);
// Name of the font family and point size a text control shows.
String FontFamily(Ref<RectControl> control);
Int32 FontPointSize(Ref<RectControl> control);
// Text a StaticText actually shows (after making raw bytes safe).
String ShownText(Ref<RectControl> control);

}  // namespace fw::testing
