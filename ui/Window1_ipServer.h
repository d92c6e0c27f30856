#pragma once
// The TCP listener as a control of the main window (class "Window1.ipServer").
#include "framework/ServerSocket.h"
#include "framework/Window.h"

class Window1_ipServer : public fw::ServerSocket, public fw::_PaneChild {
 public:
  static fw::ClassRecord Record();
  fw::Int32 Index = 0;
  void _SetWindow(fw::Ref<fw::Window> w) override;
  fw::Ref<fw::Window> Window() override;
  fw::Int32 _Index() override;
  void _SetIndex(fw::Int32 index) override;
  void Constructor();

 private:
  std::weak_ptr<fw::Object> ownerWindow;
};
