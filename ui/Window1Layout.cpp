// The main window's class, its single instance and its layout.
#include <limits>

#include "ui/LayoutTable.h"
#include "ui/MenuBar1.h"
#include "ui/Window1.h"
#include "ui/Window1_ipServer.h"

namespace {

using fw::PropList;
using W = class Window1;
using Row = ui::ControlRow<W>;
using ui::On;

template <class Control, class Framework = Control>
constexpr auto Make = &ui::BuildControl<Control, Framework, W>;

constexpr fw::Int32 kNoControlArray = std::numeric_limits<fw::Int32>::min();

const PropList kWindow = {
    {"Placement", 0},
    {"Width", 603},
    {"Height", 403},
    {"MinWidth", 64},
    {"MinHeight", 64},
    {"MaxWidth", 32000},
    {"MaxHeight", 32000},
    {"Frame", 0},
    {"Composite", false},
    {"HasBackColor", false},
    {"BackColor", fw::RGB(255, 255, 255)},
    {"Title", "TallyPoint"},
    {"Visible", false},
    {"FullScreen", false},
    {"MenuBarVisible", true},
    {"CloseButton", false},
    {"Resizeable", false},
    {"LiveResize", false},
    {"MaximizeButton", false},
    {"MinimizeButton", true},
    {"MacProcID", 0},
};

struct Locks {
  bool left, top, right, bottom;
};
constexpr Locks kNone{false, false, false, false};
constexpr Locks kRight{false, false, true, false};
constexpr Locks kTopRight{false, true, true, false};

// What every visual control of the window shares.
PropList Common(bool visible) {
  return {
      {"Index", kNoControlArray},
      {"TabPanelIndex", 0},
      {"InitialParent", ""},
      {"HelpTag", ""},
      {"AutoDeactivate", true},
      {"Enabled", true},
      {"Visible", visible},
  };
}

// What the three text lines share.
PropList TextCommon() {
  return {
      {"TextColor", fw::RGB(0, 0, 0)},
      {"Multiline", false},
      {"Bold", false},
      {"Italic", false},
      {"Underline", false},
      {"DataSource", ""},
      {"DataField", ""},
  };
}

PropList Placed(fw::Int32 left, fw::Int32 top, fw::Int32 width, fw::Int32 height, Locks locks, fw::Int32 tabIndex) {
  return {
      {"Left", left},
      {"Top", top},
      {"Width", width},
      {"Height", height},
      {"LockLeft", locks.left},
      {"LockTop", locks.top},
      {"LockRight", locks.right},
      {"LockBottom", locks.bottom},
      {"TabIndex", tabIndex},
  };
}

const PropList kListSettings = {
    {"Border", true},
    {"ColumnCount", 1},
    {"ColumnWidths", ""},
    {"HasHeading", false},
    {"UseFocusRing", true},
    {"InitialValue", ""},
    {"HeadingIndex", -1},
    {"ScrollbarHorizontal", false},
    {"ScrollBarVertical", true},
    {"AutoHideScrollbars", true},
    {"GridLinesHorizontal", 0},
    {"GridLinesVertical", 0},
    {"DefaultRowHeight", -1},
    {"_ScrollWidth", -1},
    {"_ScrollOffset", 0},
    {"TextFont", "Courier"},
    {"TextSize", 0},
    {"Bold", false},
    {"Italic", false},
    {"Underline", false},
    {"Hierarchical", false},
    {"EnableDrag", false},
    {"EnableDragReorder", false},
    {"RequiresSelection", false},
    {"SelectionType", 0},
    {"ColumnsResizable", false},
    {"DataSource", ""},
    {"DataField", ""},
};

// Creation order is tab order over the six visual controls.
const std::vector<Row>& Controls() {
  static const std::vector<Row> rows = {
      {"serialOpen", Make<fw::ProgressWheel>,
       Common(false) + Placed(577, 6, 16, 16, kRight, 0) + PropList{{"TabStop", true}},
       {}},
      {"DisclosureTriangle1", Make<fw::DisclosureTriangle>,
       Common(true) + Placed(11, 6, 18, 18, kNone, 1) +
           PropList{{"TabStop", true}, {"Value", false}, {"Facing", 0}, {"AcceptFocus", false}},
       {On("Action", &W::DisclosureTriangle1_Action, "Window1.DisclosureTriangle1_Action")}},
      {"fileList", Make<fw::Listbox>,
       Common(true) + Placed(11, 36, 577, 334, kNone, 2) + PropList{{"TabStop", true}} + kListSettings,
       {On("Open", &W::fileList_Open, "Window1.fileList_Open"),
        On("CellBackgroundPaint", &W::fileList_CellBackgroundPaint, "Window1.fileList_CellBackgroundPaint")}},
      {"callStatus", Make<fw::StaticText>,
       Common(true) + TextCommon() + Placed(29, 6, 359, 20, kNone, 3) +
           PropList{{"Text", "Starting up;"}, {"TextAlign", 0}, {"TextFont", "System"}, {"TextSize", 0}},
       {On("MouseDown", &W::callStatus_MouseDown, "Window1.callStatus_MouseDown")}},
      {"bufferview", Make<fw::StaticText>,
       Common(true) + TextCommon() + Placed(13, 376, 575, 20, kNone, 4) +
           PropList{{"Text", ""}, {"TextAlign", 0}, {"TextFont", "Courier"}, {"TextSize", 10}},
       {}},
      {"portStatus", Make<fw::StaticText>,
       Common(true) + TextCommon() + Placed(206, 6, 359, 20, kTopRight, 5) +
           PropList{{"Text", ""}, {"TextAlign", 2}, {"TextFont", "System"}, {"TextSize", 0}},
       {}},
      {"ipServer", Make<Window1_ipServer, fw::ServerSocket>,
       PropList{{"Port", 23}, {"MinimumSocketsAvailable", 1}, {"MaximumSocketsConnected", 2}},
       {On("Error", &W::ipServer_Error, "Window1.ipServer_Error"),
        On("AddSocket", &W::ipServer_AddSocket, "Window1.ipServer_AddSocket")}},
  };
  return rows;
}

template <class T>
fw::Ref<T> MenuItemNamed(fw::Window& w, const char* name) {
  return fw::RuntimeCheckCast<T>(w.MenuBar()->_Lookup(name));
}

}  // namespace

fw::ClassRecord Window1::Record() {
  return fw::ClassBuilder<W, fw::Window>("Window1.Window1", "Window")
      .Operations({"Layout", "CreateControls", "_CreateControls0",
                   "DisclosureTriangle1_Action", "fileList_Open", "fileList_CellBackgroundPaint",
                   "callStatus_MouseDown", "ipServer_Error", "ipServer_AddSocket",
                   "EditMenu", "EditSelectAll", "UntitledMenu0", "EditClear", "EditPaste", "EditCopy",
                   "EditCut", "UntitledMenu1", "EditUndo", "FileMenu", "FileQuit", "Prefs",
                   "Event_Open", "updateFileList"})
      .Hook("Layout", &W::Layout, "Layout")
      .Hook("CreateControls", &W::CreateControls, "CreateControls")
      .Hook("Open", &W::Event_Open, "Event_Open");
}

void Window1::Layout() {
  MenuBar(::MenuBar1());
  fw::_SetProperties(fw::RefTo<fw::Object>(this), fw::EncodePropertyBlock(kWindow));
}

void Window1::CreateControls() { _CreateControls0(); }

void Window1::_CreateControls0() { ui::BuildControls(*this, Controls()); }

fw::Ref<fw::MenuItem> Window1::EditMenu() { return MenuItemNamed<fw::MenuItem>(*this, "EditMenu"); }
fw::Ref<fw::MenuItem> Window1::EditSelectAll() { return MenuItemNamed<fw::MenuItem>(*this, "EditSelectAll"); }
fw::Ref<fw::MenuItem> Window1::UntitledMenu0() { return MenuItemNamed<fw::MenuItem>(*this, "UntitledMenu0"); }
fw::Ref<fw::MenuItem> Window1::EditClear() { return MenuItemNamed<fw::MenuItem>(*this, "EditClear"); }
fw::Ref<fw::MenuItem> Window1::EditPaste() { return MenuItemNamed<fw::MenuItem>(*this, "EditPaste"); }
fw::Ref<fw::MenuItem> Window1::EditCopy() { return MenuItemNamed<fw::MenuItem>(*this, "EditCopy"); }
fw::Ref<fw::MenuItem> Window1::EditCut() { return MenuItemNamed<fw::MenuItem>(*this, "EditCut"); }
fw::Ref<fw::MenuItem> Window1::UntitledMenu1() { return MenuItemNamed<fw::MenuItem>(*this, "UntitledMenu1"); }
fw::Ref<fw::MenuItem> Window1::EditUndo() { return MenuItemNamed<fw::MenuItem>(*this, "EditUndo"); }
fw::Ref<fw::MenuItem> Window1::FileMenu() { return MenuItemNamed<fw::MenuItem>(*this, "FileMenu"); }
fw::Ref<fw::QuitMenuItem> Window1::FileQuit() { return MenuItemNamed<fw::QuitMenuItem>(*this, "FileQuit"); }
fw::Ref<fw::AppleMenuItem> Window1::Prefs() { return MenuItemNamed<fw::AppleMenuItem>(*this, "Prefs"); }

fw::Ref<class Window1> Window1() {
  if (fw::Ref<fw::Window> live = fw::_GetImplicitWindow("Window1.Window1"))
    return fw::RuntimeCheckCast<W>(live);
  fw::Ref<W> window = fw::New<W>();
  window->Constructor();
  return window;
}
