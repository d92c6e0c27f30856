// The preferences dialog as the "Preferences…" command shows it: its layout,
// its lists and selections, and what each choice and its closing do to the
// settings and to the serial port.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "capture/App.h"
#include "capture/customPort.h"
#include "framework/System.h"
#include "framework/Testing.h"
#include "support/InProcessProgram.h"
#include "support/TestEnvironment.h"
#include "ui/MenuBar1.h"
#include "ui/Window1.h"
#include "ui/prefsWindow.h"

namespace {

namespace fs = std::filesystem;
namespace t = fw::testing;

template <class T>
fw::Ref<T> Item(const char* name) { return tptest::ControlOf<T>(prefsWindow(), name); }
fw::Ref<fw::PopupMenu> Popup(const char* name) { return Item<fw::PopupMenu>(name); }

std::vector<std::string> RowsOf(const char* popup) {
  std::vector<std::string> rows;
  for (fw::Int32 i = 0; i < Popup(popup)->ListCount(); ++i) rows.push_back(Popup(popup)->List(i));
  return rows;
}

fw::Int32 LastRowNamed(const char* popup, const std::string& text) {
  std::vector<std::string> rows = RowsOf(popup);
  for (fw::Int32 i = static_cast<fw::Int32>(rows.size()) - 1; i >= 0; --i)
    if (rows[static_cast<size_t>(i)] == text) return i;
  return -1;
}

fw::Ref<fw::StaticText> PortStatus() { return tptest::Program::Text("portStatus"); }

// Sets TALLYPOINT_SERIAL_PORTS for the object's lifetime; unset when empty.
class SerialPorts {
 public:
  explicit SerialPorts(const std::string& paths) {
    if (const char* v = getenv("TALLYPOINT_SERIAL_PORTS")) had_ = true, old_ = v;
    if (paths.empty()) unsetenv("TALLYPOINT_SERIAL_PORTS");
    else setenv("TALLYPOINT_SERIAL_PORTS", paths.c_str(), 1);
  }
  ~SerialPorts() {
    if (had_) setenv("TALLYPOINT_SERIAL_PORTS", old_.c_str(), 1);
    else unsetenv("TALLYPOINT_SERIAL_PORTS");
  }

 private:
  bool had_ = false;
  std::string old_;
};

class Preferences : public ::testing::Test {
 protected:
  void StartAndOpenDialog() {
    program.Start();
    t::ChooseMenuItem(MenuBar1()->_Lookup("Prefs"));
    ASSERT_TRUE(fw::_GetImplicitWindow("prefsWindow.prefsWindow"));
  }
  std::string madeUp(const char* name) const { return program.dir / name; }
  void TearDown() override { tptest::CloseUiWindows(); }
  tptest::Program program;
};

const std::vector<std::string> kBaudRows = {"300",  "600",  "1200", "1800",  "2400", "3600",
                                            "4800", "7200", "9600", "14400", "19200"};

TEST_F(Preferences, DialogStandsAsLaidOutWithPopupsInTabOrder) {
  SerialPorts ports(madeUp("ttyA"));
  StartAndOpenDialog();
  fw::Ref<class prefsWindow> d = prefsWindow();
  EXPECT_TRUE(d->IsShown());
  EXPECT_EQ(d->Title(), "Preferences");
  EXPECT_EQ(d->Width(), 511);
  EXPECT_EQ(d->Height(), 315);
  EXPECT_TRUE(d->CloseButton());
  EXPECT_FALSE(d->Resizeable());
  EXPECT_FALSE(d->MaximizeButton());

  struct Expected {
    const char* name;
    fw::Int32 left, top, width, height;
    const char* text;
  };
  const Expected controls[] = {
      {"PopupMenu1", 26, 21, 218, 20, nullptr},       {"PopupMenu2", 272, 21, 130, 20, nullptr},
      {"StaticText1", 29, 43, 100, 20, "Serial Port"}, {"StaticText2", 276, 43, 100, 20, "Baud"},
      {"PopupMenu3", 29, 93, 93, 20, nullptr},         {"PopupMenu4", 253, 93, 93, 20, nullptr},
      {"PopupMenu5", 141, 93, 93, 20, nullptr},        {"StaticText3", 33, 116, 100, 20, "Bits"},
      {"StaticText4", 256, 114, 100, 20, "Parity"},    {"StaticText5", 145, 116, 100, 20, "Stop"},
  };
  ASSERT_EQ(d->ControlCount(), 10);
  for (fw::Int32 i = 0; i < 10; ++i) {
    const Expected& e = controls[i];
    SCOPED_TRACE(e.name);
    fw::Ref<fw::RectControl> c = fw::RuntimeCheckCast<fw::RectControl>(d->Control(i));
    EXPECT_EQ(c->Name(), e.name);
    EXPECT_EQ(c->Left(), e.left);
    EXPECT_EQ(c->Top(), e.top);
    EXPECT_EQ(c->Width(), e.width);
    EXPECT_EQ(c->Height(), e.height);
    EXPECT_EQ(c->TabIndex(), i);
    if (e.text) {
      EXPECT_EQ(Item<fw::StaticText>(e.name)->Text(), e.text);
      EXPECT_EQ(Item<fw::StaticText>(e.name)->TextSize(), 9);
    }
  }
  // Bits, parity, stop: left, right, then middle.
  EXPECT_EQ(t::TabOrder(d),
            (std::vector<std::string>{"PopupMenu1", "PopupMenu2", "PopupMenu3", "PopupMenu4", "PopupMenu5"}));
}

struct SelectionCase {
  const char* label;
  const char* prefs;  // nullptr: no settings file
  std::vector<fw::Int32> selected;  // PopupMenu2 to PopupMenu5
  std::vector<std::string> texts;
};

class Selections : public Preferences, public ::testing::WithParamInterface<SelectionCase> {};

TEST_P(Selections, PopupsShowTheirRowsAndSelectTheStoredCodes) {
  SerialPorts ports(madeUp("ttyA") + ":" + madeUp("ttyB"));
  const SelectionCase& c = GetParam();
  if (c.prefs) program.WritePrefs(std::string(c.prefs) + "port\t" + madeUp("ttyB") + "\n");
  StartAndOpenDialog();

  EXPECT_EQ(RowsOf("PopupMenu2"), kBaudRows);
  EXPECT_EQ(RowsOf("PopupMenu3"), (std::vector<std::string>{"5", "6", "7", "8"}));
  EXPECT_EQ(RowsOf("PopupMenu4"), (std::vector<std::string>{"None", "Odd", "Even"}));
  EXPECT_EQ(RowsOf("PopupMenu5"), (std::vector<std::string>{"1", "1.5", "2"}));
  const char* popups[] = {"PopupMenu2", "PopupMenu3", "PopupMenu4", "PopupMenu5"};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(popups[i]);
    EXPECT_EQ(Popup(popups[i])->ListIndex(), c.selected[static_cast<size_t>(i)]);
    EXPECT_EQ(Popup(popups[i])->Text(), c.texts[static_cast<size_t>(i)]);
  }

  // The made-up ports follow whatever ports the system lists itself.
  std::vector<std::string> rows = RowsOf("PopupMenu1");
  ASSERT_GE(rows.size(), 2u);
  EXPECT_EQ(rows[rows.size() - 2], madeUp("ttyA"));
  EXPECT_EQ(rows.back(), madeUp("ttyB"));
  if (c.prefs) {
    EXPECT_EQ(Popup("PopupMenu1")->ListIndex(), static_cast<fw::Int32>(rows.size()) - 1);
  } else {
    // The empty stored name matches no row: row 0 shows, the name stays empty.
    EXPECT_EQ(Popup("PopupMenu1")->ListIndex(), 0);
    EXPECT_EQ(App()->pref_port, "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Selections,
    ::testing::Values(SelectionCase{"NoSettingsFile", nullptr, {4, 3, 0, 0}, {"2400", "8", "None", "1"}},
                      SelectionCase{"StoredSettings", "baud\t8\nbits\t2\nparity\t2\nstop\t1\n",
                                    {8, 2, 2, 1}, {"9600", "7", "Even", "1.5"}},
                      SelectionCase{"CodesBeyondTheRows", "baud\t42\nbits\t-1\nparity\t3\nstop\t9\n",
                                    {-1, -1, -1, -1}, {"", "", "", ""}}),
    [](const ::testing::TestParamInfo<SelectionCase>& info) { return std::string(info.param.label); });

TEST_F(Preferences, OfTwoPortsOfTheStoredNameTheLaterIsSelected) {
  SerialPorts ports(madeUp("ttyA") + ":" + madeUp("ttyB") + ":" + madeUp("ttyA"));
  program.WritePrefs("port\t" + madeUp("ttyA") + "\n");
  StartAndOpenDialog();
  EXPECT_EQ(Popup("PopupMenu1")->ListIndex(), LastRowNamed("PopupMenu1", madeUp("ttyA")));
  EXPECT_EQ(Popup("PopupMenu1")->ListIndex(), Popup("PopupMenu1")->ListCount() - 1);
}

TEST_F(Preferences, NoSerialPortsLeavesThePortListEmpty) {
  SerialPorts ports("");
  setenv("TALLYPOINT_SERIAL_ENUMERATION", "0", 1);
  struct Restore {
    ~Restore() { unsetenv("TALLYPOINT_SERIAL_ENUMERATION"); }
  } restore;
  ASSERT_EQ(fw::System::SerialPortCount(), 0);
  StartAndOpenDialog();
  EXPECT_EQ(Popup("PopupMenu1")->ListCount(), 0);
  EXPECT_EQ(Popup("PopupMenu1")->Text(), "");
  EXPECT_EQ(RowsOf("PopupMenu2"), kBaudRows);
}

TEST_F(Preferences, SecondCommandShowsTheSameDialogWithoutAddingRows) {
  SerialPorts ports(madeUp("ttyA"));
  StartAndOpenDialog();
  fw::Ref<class prefsWindow> first = prefsWindow();
  fw::Int32 ports1 = Popup("PopupMenu1")->ListCount();
  t::ChooseMenuItem(MenuBar1()->_Lookup("Prefs"));
  EXPECT_EQ(prefsWindow(), first);
  EXPECT_EQ(Popup("PopupMenu1")->ListCount(), ports1);
  EXPECT_EQ(Popup("PopupMenu2")->ListCount(), 11);
}

TEST_F(Preferences, ChoosingTheStoredPortClosesAndOpensNothing) {
  tptest::ListedPty a;
  program.WritePrefs("port\t" + a.slavePath() + "\n");
  StartAndOpenDialog();
  ASSERT_TRUE(App()->myPort->IsOpen());
  PortStatus()->Text("marker");
  t::ChooseRow(Popup("PopupMenu1"), LastRowNamed("PopupMenu1", a.slavePath()));
  EXPECT_EQ(PortStatus()->Text(), "marker");
  EXPECT_TRUE(App()->myPort->IsOpen());
  EXPECT_EQ(App()->pref_port, a.slavePath());
}

TEST_F(Preferences, ChoosingAnotherPortClosesTheOldOneAndOpensTheNew) {
  tptest::ListedPty a, b;
  SerialPorts ports(a.slavePath() + ":" + b.slavePath());
  program.WritePrefs("port\t" + a.slavePath() + "\n");
  StartAndOpenDialog();
  ASSERT_TRUE(App()->myPort->IsOpen());

  t::ChooseRow(Popup("PopupMenu1"), LastRowNamed("PopupMenu1", b.slavePath()));
  EXPECT_EQ(App()->pref_port, b.slavePath());
  EXPECT_EQ(App()->myPort->SerialPort()->InputDriverName(), b.slavePath());
  EXPECT_EQ(PortStatus()->Text(), "Idle");
  EXPECT_TRUE(fw::RuntimeCheckCast<fw::RectControl>(fw::RuntimeWindowControlByName(Window1(), "serialOpen"))->Visible());

  // Input now comes from the new port only.
  a.Write("OLD");
  b.Write("NEW");
  EXPECT_TRUE(tptest::RunUntil([] { return App()->buffer().find("NEW") != std::string::npos; }, 3000));
  EXPECT_EQ(App()->buffer().find("OLD"), std::string::npos);
}

TEST_F(Preferences, ChoosingAPortThatCannotOpenReportsItAndKeepsTheName) {
  tptest::ListedPty a;
  SerialPorts ports(a.slavePath() + ":" + madeUp("gone"));
  program.WritePrefs("port\t" + a.slavePath() + "\n");
  StartAndOpenDialog();
  t::ChooseRow(Popup("PopupMenu1"), LastRowNamed("PopupMenu1", madeUp("gone")));
  EXPECT_EQ(App()->pref_port, madeUp("gone"));
  EXPECT_EQ(PortStatus()->Text(), "Unable to open serial port");
  EXPECT_FALSE(App()->myPort->IsOpen());
  EXPECT_TRUE(fw::_GetImplicitWindow("prefsWindow.prefsWindow"));
}

struct LineChoice {
  const char* popup;
  fw::Int32 row;
  fw::Int32 App::*stored;
  fw::Int32 (fw::Serial::*onPort)() const;
};

TEST_F(Preferences, LineChoiceReachesAppAndSerialAtOnceWithoutReopening) {
  tptest::ListedPty a;
  const std::string stored = "port\t" + a.slavePath() + "\n";
  program.WritePrefs(stored);
  StartAndOpenDialog();
  const LineChoice choices[] = {{"PopupMenu2", 8, &App::pref_baud, &fw::Serial::Baud},
                                {"PopupMenu3", 1, &App::pref_bits, &fw::Serial::Bits},
                                {"PopupMenu4", 2, &App::pref_parity, &fw::Serial::Parity},
                                {"PopupMenu5", 2, &App::pref_stop, &fw::Serial::Stop}};
  for (const LineChoice& c : choices) {
    SCOPED_TRACE(c.popup);
    PortStatus()->Text("marker");
    t::ChooseRow(Popup(c.popup), c.row);
    EXPECT_EQ(App().get()->*c.stored, c.row);
    EXPECT_EQ(((*App()->myPort).*c.onPort)(), c.row);
    EXPECT_EQ(PortStatus()->Text(), "marker");
  }
  EXPECT_EQ(Popup("PopupMenu2")->Text(), "9600");
  EXPECT_EQ(tptest::ReadFile(program.prefsFile()), stored) << "settings are written only at a confirmed quit";
}

TEST_F(Preferences, ClosingTheDialogOpensThePortAgain) {
  tptest::ListedPty a;
  program.WritePrefs("port\t" + a.slavePath() + "\n");
  StartAndOpenDialog();
  t::ChooseRow(Popup("PopupMenu2"), 8);
  PortStatus()->Text("marker");
  prefsWindow()->Close();
  EXPECT_EQ(PortStatus()->Text(), "Idle");
  EXPECT_TRUE(App()->myPort->IsOpen());
  EXPECT_EQ(App()->myPort->Baud(), 8);
}

TEST_F(Preferences, RendersTheDialogImage) {
  SerialPorts ports("/dev/ttyUSB0:/dev/ttyUSB1");
  program.WritePrefs("port\t/dev/ttyUSB1\nbaud\t8\n");
  StartAndOpenDialog();
  const std::string file = std::string(TALLYPOINT_BUILD_DIR) + "/preferences.png";
  std::error_code ec;
  fs::remove(file, ec);
  ASSERT_TRUE(t::SaveWindowPng(prefsWindow(), file));
  EXPECT_GT(fs::file_size(file), 0u);
}

}  // namespace
