#pragma once
// The application object: the shared state of the whole program.
#include "capture/SourceLines.h"
#include "framework/Application.h"
#include "framework/Date.h"
#include "framework/FolderItem.h"
#include "framework/SerialPort.h"

class customPort;
class secondTimer;

class App : public fw::Application {
 public:
  static fw::ClassRecord Record();

  fw::String pref_port;
  fw::Int32 pref_baud = 4;
  fw::Ref<customPort> myPort;
  // The input buffer: received text not yet written. Changed only by input.
  const fw::String& buffer() const { return input.Text(); }
  fw::Ref<secondTimer> regularTimer;
  fw::Ref<fw::Date> timeout;
  fw::Ref<fw::FolderItem> pref_path;
  fw::Int32 pref_bits = 3;
  fw::Int32 pref_stop = 0;
  fw::Int32 pref_parity = 0;

  void Event_Open();
  bool Event_CancelClose();
  bool _Prefs_Action();
  void resetTimeout();
  void openPort();
  fw::Ref<fw::SerialPort> getPort(const fw::String& name);
  // Writes every record still in the buffer, so none is lost at the end of a run.
  void Event_Terminating();

  // The buffer's text and whose lines it holds. Last, so that it goes before
  // the objects whose lines it keeps.
  capture::InputBuffer input{*this};
};

// The registered application object.
const fw::Ref<class App>& App();
