#pragma once
// The preferences dialog.
#include "framework/PopupMenu.h"
#include "framework/StaticText.h"
#include "framework/Window.h"

class prefsWindow : public fw::Window {
 public:
  static fw::ClassRecord Record();
  void Layout();
  void CreateControls();
  void _CreateControls0();
  void PopupMenu1_Change();
  void PopupMenu1_Open();
  void PopupMenu2_Open();
  void PopupMenu2_Change();
  void PopupMenu3_Open();
  void PopupMenu3_Change();
  void PopupMenu4_Open();
  void PopupMenu4_Change();
  void PopupMenu5_Open();
  void PopupMenu5_Change();
  void Event_Close();
};

// The single instance, created on first use.
fw::Ref<class prefsWindow> prefsWindow();
