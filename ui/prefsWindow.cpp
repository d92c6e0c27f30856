// The preferences dialog's behaviour: every choice applies at once to App and
// to the serial object; the port is opened again when the dialog closes.
#include "ui/prefsWindow.h"

#include "capture/App.h"
#include "capture/customPort.h"
#include "framework/Strings.h"
#include "framework/System.h"
#include "ui/LayoutTable.h"

namespace {

using W = class prefsWindow;

// A line setting: its popup's fixed rows, whose zero-based index is the code
// stored in App and handed unchanged to the serial object.
struct LineSetting {
  const char* popup;
  std::vector<const char*> rows;
  fw::Int32 App::*code;
  void (fw::Serial::*apply)(fw::Int32);
};

const LineSetting kBaud{"PopupMenu2",
                        {"300", "600", "1200", "1800", "2400", "3600", "4800", "7200", "9600", "14400", "19200"},
                        &App::pref_baud,
                        &fw::Serial::Baud};
const LineSetting kBits{"PopupMenu3", {"5", "6", "7", "8"}, &App::pref_bits, &fw::Serial::Bits};
const LineSetting kParity{"PopupMenu4", {"None", "Odd", "Even"}, &App::pref_parity, &fw::Serial::Parity};
const LineSetting kStop{"PopupMenu5", {"1", "1.5", "2"}, &App::pref_stop, &fw::Serial::Stop};

fw::Ref<fw::PopupMenu> Popup(W& w, const char* name) { return ui::ControlNamed<fw::PopupMenu>(w, name); }

// The stored code goes to ListIndex untested; the popup shows no row for a
// code outside its rows.
void OpenSetting(W& w, const LineSetting& s) {
  fw::Ref<fw::PopupMenu> popup = Popup(w, s.popup);
  for (const char* row : s.rows) popup->AddRow(row);
  popup->ListIndex(App().get()->*s.code);
}

// The serial object first, then App; the port is not reopened here, the
// dialog's closing does that with all settings.
void ChangeSetting(W& w, const LineSetting& s) {
  fw::Ref<fw::PopupMenu> popup = Popup(w, s.popup);
  ((*App()->myPort).*s.apply)(popup->ListIndex());
  (*App()).*s.code = popup->ListIndex();
}

}  // namespace

void prefsWindow::PopupMenu1_Open() {
  fw::Ref<fw::PopupMenu> popup = Popup(*this, "PopupMenu1");
  // The count is fetched before every pass; the loop goes on after a match,
  // so of several ports of the stored name the last is selected.
  for (fw::Int32 i = 1; i <= fw::System::SerialPortCount(); ++i) {
    fw::Ref<fw::SerialPort> port = fw::System::SerialPort(i - 1);
    if (!port) break;  // the port went away between the count and the fetch
    fw::String name = port->InputDriverName();
    popup->AddRow(name);
    if (fw::StrEqual(name, App()->pref_port)) popup->ListIndex(i - 1);
  }
  if (popup->ListIndex() == -1) popup->ListIndex(0);
}

void prefsWindow::PopupMenu1_Change() {
  fw::Ref<fw::PopupMenu> popup = Popup(*this, "PopupMenu1");
  if (fw::StrEqual(App()->pref_port, popup->Text())) return;
  // A port is assigned whether or not its last opening succeeded.
  if (App()->myPort->SerialPort()) App()->myPort->Close();
  App()->pref_port = popup->Text();
  App()->openPort();
}

void prefsWindow::PopupMenu2_Open() { OpenSetting(*this, kBaud); }
void prefsWindow::PopupMenu2_Change() { ChangeSetting(*this, kBaud); }
void prefsWindow::PopupMenu3_Open() { OpenSetting(*this, kBits); }
void prefsWindow::PopupMenu3_Change() { ChangeSetting(*this, kBits); }
void prefsWindow::PopupMenu4_Open() { OpenSetting(*this, kParity); }
void prefsWindow::PopupMenu4_Change() { ChangeSetting(*this, kParity); }
void prefsWindow::PopupMenu5_Open() { OpenSetting(*this, kStop); }
void prefsWindow::PopupMenu5_Change() { ChangeSetting(*this, kStop); }

void prefsWindow::Event_Close() { App()->openPort(); }
