#include "capture/App.h"

#include <typeinfo>

#include "capture/CallFile.h"
#include "capture/MainWindowControls.h"
#include "capture/Settings.h"
#include "capture/customPort.h"
#include "capture/secondTimer.h"
#include "framework/MessageDialog.h"
#include "framework/Strings.h"
#include "framework/System.h"
#include "ui/Window1.h"
#include "ui/prefsWindow.h"

fw::ClassRecord App::Record() {
  return fw::ClassBuilder<class App, fw::Application>("App", "Application")
      .Operations({"Event_Open", "Event_CancelClose", "_Prefs_Action", "resetTimeout", "openPort", "getPort",
                   "Event_Terminating"})
      .Hook("Open", &App::Event_Open, "Event_Open")
      .Hook("CancelClose", &App::Event_CancelClose, "Event_CancelClose")
      .Hook("Terminating", &App::Event_Terminating, "Event_Terminating");
}

const fw::Ref<class App>& App() {
  // Asked on every pass of a list rebuild: the checked cast, and the
  // reference it costs, only when the application object changes.
  static fw::Ref<class App> typed;
  static const bool released = (fw::RegisterModuleExit([] { typed = nullptr; }), true);
  (void)released;
  const fw::Ref<fw::Application>& app = fw::_GetAppObject();
  if (static_cast<fw::Application*>(typed.get()) != app.get()) {
    typed = app && typeid(*app) == typeid(class App) ? fw::Ref<class App>(std::static_pointer_cast<class App>(app.shared()))
                                                     : fw::RuntimeCheckCast<class App>(app);
  }
  return typed;
}

namespace {

capture::Settings SettingsOf(const class App& app) {
  return {app.pref_port, app.pref_baud, app.pref_parity, app.pref_stop, app.pref_bits};
}

void TakeSettings(class App& app, const capture::Settings& s) {
  app.pref_port = s.port;
  app.pref_baud = s.baud;
  app.pref_parity = s.parity;
  app.pref_stop = s.stop;
  app.pref_bits = s.bits;
}

// The end of the run: every record still waiting becomes a call file now,
// or the run would throw it away.
void WriteWaitingRecords(class App& app, const fw::String& where) { app.input.WriteEveryRecord(where); }

}  // namespace

void App::Event_Open() {
  timeout = fw::New<fw::Date>();
  timeout->TotalSeconds(timeout->TotalSeconds() + 10.0);

  pref_path = fw::Volume(0)->Child("Calls");
  if (!pref_path->Exists()) {
    pref_path->CreateAsFolder();
    if (!pref_path->Exists()) fw::MsgBox("Unable to make calls folder on startup disk - See Sys Admin");
  }
  // Before any input, and before the window lists the folder: records that
  // a copy killed at the end of its run had written are call files again.
  capture::FinishLeftoverCallFiles(*pref_path, "App.Event_Open");

  capture::Settings s = SettingsOf(*this);
  capture::ReadSettings(capture::SettingsFile(), s);
  TakeSettings(*this, s);

  myPort = fw::New<customPort>();
  myPort->CTS(true);
  myPort->DTR(true);
  myPort->XON(true);
  myPort->Stop(pref_stop);
  myPort->Parity(pref_parity);
  myPort->Bits(pref_bits);

  Window1()->Height(30);
  Window1()->Show();

  regularTimer = fw::New<secondTimer>();
  regularTimer->Period(500);

  openPort();
}

bool App::Event_CancelClose() {
  fw::Ref<fw::MessageDialog> d = fw::New<fw::MessageDialog>();
  d->Icon(1);
  d->ActionButton()->Caption("Quit");
  d->CancelButton()->Visible(true);
  d->AlternateActionButton()->Visible(false);
  d->Message("Are you sure you wish to quit?");
  d->Explanation("Any calls made while this program is not running, will not be logged or billed");
  fw::Ref<fw::MessageDialogButton> b = d->ShowModal();
  if (b == d->CancelButton()) return true;

  try {
    capture::WriteSettings(capture::SettingsFile(), SettingsOf(*this));
  } catch (const std::exception& e) {
    // Reported, and the waiting records are still written below.
    fw::RuntimeUnhandledException(e, "App.Event_CancelClose");
  }
  WriteWaitingRecords(*this, "App.Event_CancelClose");
  return false;
}

bool App::_Prefs_Action() {
  prefsWindow()->Show();
  return false;
}

void App::resetTimeout() {
  fw::Ref<fw::Date> now = fw::New<fw::Date>();
  // Moved in place: every holder of the deadline sees the new moment.
  timeout->TotalSeconds(now->TotalSeconds() + 10.0);
}

void App::openPort() {
  myPort->SerialPort(getPort(pref_port));
  myPort->Baud(pref_baud);
  myPort->Parity(pref_parity);
  myPort->Bits(pref_bits);
  myPort->Stop(pref_stop);
  capture::PortStatus()->Text("Opening Serial Port");
  if (myPort->Open()) {
    capture::SerialOpenWheel()->Visible(true);
    capture::PortStatus()->Text("Idle");
  } else {
    capture::SerialOpenWheel()->Visible(false);
    capture::PortStatus()->Text("Unable to open serial port");
    // The framework tells why a port it was given did not open; that no
    // port was found only this knows.
    if (!myPort->SerialPort())
      fw::ReportFailure(pref_port.empty()
                            ? fw::String("no serial port chosen")
                            : "cannot open serial port " + pref_port + ": the system does not list it");
  }
}

fw::Ref<fw::SerialPort> App::getPort(const fw::String& name) {
  for (fw::Int32 i = 1; i <= fw::System::SerialPortCount(); ++i) {
    if (fw::StrEqual(fw::System::SerialPort(i - 1)->InputDriverName(), name)) return fw::System::SerialPort(i - 1);
  }
  return nullptr;
}

void App::Event_Terminating() { WriteWaitingRecords(*this, "App.Event_Terminating"); }
