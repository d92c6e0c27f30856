// The preferences dialog's class, its single instance and its layout.
#include <limits>

#include "ui/LayoutTable.h"
#include "ui/prefsWindow.h"

namespace {

using fw::PropList;
using W = class prefsWindow;
using ui::On;

constexpr fw::Int32 kNoControlArray = std::numeric_limits<fw::Int32>::min();

const PropList kWindow = {
    {"Placement", 0},
    {"Width", 511},
    {"Height", 315},
    {"MinWidth", 64},
    {"MinHeight", 64},
    {"MaxWidth", 32000},
    {"MaxHeight", 32000},
    {"Frame", 0},
    {"Composite", false},
    {"HasBackColor", false},
    {"BackColor", fw::RGB(255, 255, 255)},
    {"Title", "Preferences"},
    {"Visible", true},
    {"FullScreen", false},
    {"MenuBarVisible", true},
    {"CloseButton", true},
    {"Resizeable", false},
    {"LiveResize", false},
    {"MaximizeButton", false},
    {"MinimizeButton", true},
    {"MacProcID", 0},
};

enum class Kind { Popup, Label };

// One line of the controls table; the creation order is the tab order.
struct PrefsControl {
  fw::Int32 tabIndex;
  const char* name;
  Kind kind;
  fw::Int32 left, top, width, height;
  const char* text;  // labels only
  fw::Int32 textSize;
  std::vector<ui::Wiring<W>> events;
};

PropList PopupBlock(const PrefsControl& c) {
  return {
      {"Name", c.name},
      {"Index", kNoControlArray},
      {"Left", c.left},
      {"Top", c.top},
      {"Width", c.width},
      {"Height", c.height},
      {"LockLeft", false},
      {"LockTop", false},
      {"LockRight", false},
      {"LockBottom", false},
      {"TabPanelIndex", 0},
      {"TabIndex", c.tabIndex},
      {"TabStop", true},
      {"Enabled", true},
      {"InitialValue", ""},
      {"ListIndex", 0},
      {"Visible", true},
      {"HelpTag", ""},
      {"AutoDeactivate", true},
      {"TextFont", "System"},
      {"TextSize", c.textSize},
      {"Bold", false},
      {"Italic", false},
      {"Underline", false},
      {"DataSource", ""},
      {"DataField", ""},
      {"InitialParent", ""},
  };
}

PropList LabelBlock(const PrefsControl& c) {
  return {
      {"Name", c.name},
      {"Index", kNoControlArray},
      {"Left", c.left},
      {"Top", c.top},
      {"Width", c.width},
      {"Height", c.height},
      {"LockLeft", false},
      {"LockTop", false},
      {"LockRight", false},
      {"LockBottom", false},
      {"TabPanelIndex", 0},
      {"TabIndex", c.tabIndex},
      {"Text", c.text},
      {"TextAlign", 0},
      {"TextColor", fw::RGB(0, 0, 0)},
      {"Multiline", false},
      {"Enabled", true},
      {"Visible", true},
      {"HelpTag", ""},
      {"AutoDeactivate", true},
      {"TextFont", "System"},
      {"TextSize", c.textSize},
      {"Bold", false},
      {"Italic", false},
      {"Underline", false},
      {"DataSource", ""},
      {"DataField", ""},
      {"InitialParent", ""},
  };
}

// The port popup gets Change before Open; the others Open first.
const std::vector<PrefsControl>& Controls() {
  static const std::vector<PrefsControl> rows = {
      {0, "PopupMenu1", Kind::Popup, 26, 21, 218, 20, "", 0,
       {On("Change", &W::PopupMenu1_Change, "prefsWindow.PopupMenu1_Change"),
        On("Open", &W::PopupMenu1_Open, "prefsWindow.PopupMenu1_Open")}},
      {1, "PopupMenu2", Kind::Popup, 272, 21, 130, 20, "", 0,
       {On("Open", &W::PopupMenu2_Open, "prefsWindow.PopupMenu2_Open"),
        On("Change", &W::PopupMenu2_Change, "prefsWindow.PopupMenu2_Change")}},
      {2, "StaticText1", Kind::Label, 29, 43, 100, 20, "Serial Port", 9, {}},
      {3, "StaticText2", Kind::Label, 276, 43, 100, 20, "Baud", 9, {}},
      {4, "PopupMenu3", Kind::Popup, 29, 93, 93, 20, "", 0,
       {On("Open", &W::PopupMenu3_Open, "prefsWindow.PopupMenu3_Open"),
        On("Change", &W::PopupMenu3_Change, "prefsWindow.PopupMenu3_Change")}},
      {5, "PopupMenu4", Kind::Popup, 253, 93, 93, 20, "", 0,
       {On("Open", &W::PopupMenu4_Open, "prefsWindow.PopupMenu4_Open"),
        On("Change", &W::PopupMenu4_Change, "prefsWindow.PopupMenu4_Change")}},
      {6, "PopupMenu5", Kind::Popup, 141, 93, 93, 20, "", 0,
       {On("Open", &W::PopupMenu5_Open, "prefsWindow.PopupMenu5_Open"),
        On("Change", &W::PopupMenu5_Change, "prefsWindow.PopupMenu5_Change")}},
      {7, "StaticText3", Kind::Label, 33, 116, 100, 20, "Bits", 9, {}},
      {8, "StaticText4", Kind::Label, 256, 114, 100, 20, "Parity", 9, {}},
      {9, "StaticText5", Kind::Label, 145, 116, 100, 20, "Stop", 9, {}},
  };
  return rows;
}

}  // namespace

fw::ClassRecord prefsWindow::Record() {
  return fw::ClassBuilder<W, fw::Window>("prefsWindow.prefsWindow", "Window")
      .Operations({"Layout", "CreateControls", "_CreateControls0", "PopupMenu1_Change", "PopupMenu1_Open",
                   "PopupMenu2_Open", "PopupMenu2_Change", "PopupMenu3_Open", "PopupMenu3_Change",
                   "PopupMenu4_Open", "PopupMenu4_Change", "PopupMenu5_Open", "PopupMenu5_Change",
                   "Event_Close"})
      .Hook("Layout", &W::Layout, "Layout")
      .Hook("CreateControls", &W::CreateControls, "CreateControls")
      .Hook("Close", &W::Event_Close, "Event_Close");
}

void prefsWindow::Layout() { fw::_SetProperties(fw::RefTo<fw::Object>(this), fw::EncodePropertyBlock(kWindow)); }

void prefsWindow::CreateControls() { _CreateControls0(); }

void prefsWindow::_CreateControls0() {
  for (const PrefsControl& c : Controls()) {
    if (c.kind == Kind::Popup)
      ui::BuildControl<fw::PopupMenu, fw::PopupMenu>(*this, c.name, PopupBlock(c), c.events);
    else
      ui::BuildControl<fw::StaticText, fw::StaticText>(*this, c.name, LabelBlock(c), c.events);
  }
}

fw::Ref<class prefsWindow> prefsWindow() {
  if (fw::Ref<fw::Window> live = fw::_GetImplicitWindow("prefsWindow.prefsWindow"))
    return fw::RuntimeCheckCast<W>(live);
  fw::Ref<W> dialog = fw::New<W>();
  dialog->Constructor();
  return dialog;
}
