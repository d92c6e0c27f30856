#pragma once
// The main window.
#include "framework/DisclosureTriangle.h"
#include "framework/Listbox.h"
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
  void Event_Open();
  void updateFileList();
};

// The single instance, created on first use.
fw::Ref<class Window1> Window1();
