#pragma once
#include "framework/MenuItem.h"

class MenuBar1 : public fw::MenuBar {
 public:
  static fw::ClassRecord Record();
  void Constructor();
  void Untitled0();
  void Untitled1();
};

// The single instance, created and built on first use.
fw::Ref<class MenuBar1> MenuBar1();
