#pragma once
// The main window.
#include "framework/DisclosureTriangle.h"
#include "framework/Listbox.h"
#include "framework/MenuItem.h"
#include "framework/ProgressWheel.h"
#include "framework/ServerSocket.h"
#include "framework/StaticText.h"
#include "framework/Window.h"

class Window1 : public fw::Window {
 public:
  static fw::ClassRecord Record();
  void Layout();
  void CreateControls();
  void _CreateControls0();
  void DisclosureTriangle1_Action();
  void fileList_Open();
  bool fileList_CellBackgroundPaint(fw::Ref<fw::Graphics> g, fw::Int32 row, fw::Int32 column);
  bool callStatus_MouseDown(fw::Int32 x, fw::Int32 y);
  void ipServer_Error(fw::Int32 code);
  fw::Ref<fw::TCPSocket> ipServer_AddSocket();
  // The menu bar's items by name; nothing in the program calls them.
  fw::Ref<fw::MenuItem> EditMenu();
  fw::Ref<fw::MenuItem> EditSelectAll();
  fw::Ref<fw::MenuItem> UntitledMenu0();
  fw::Ref<fw::MenuItem> EditClear();
  fw::Ref<fw::MenuItem> EditPaste();
  fw::Ref<fw::MenuItem> EditCopy();
  fw::Ref<fw::MenuItem> EditCut();
  fw::Ref<fw::MenuItem> UntitledMenu1();
  fw::Ref<fw::MenuItem> EditUndo();
  fw::Ref<fw::MenuItem> FileMenu();
  fw::Ref<fw::QuitMenuItem> FileQuit();
  fw::Ref<fw::AppleMenuItem> Prefs();
  void Event_Open();
  void updateFileList();
};

// The single instance, created on first use.
fw::Ref<class Window1> Window1();
