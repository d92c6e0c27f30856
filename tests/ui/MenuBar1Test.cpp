// The one menu bar: its tree as built, shared by the application and the
// main window.
#include <gtest/gtest.h>

#include <optional>

#include "capture/App.h"
#include "framework/Testing.h"
#include "support/InProcessProgram.h"
#include "ui/MenuBar1.h"
#include "ui/Window1.h"

namespace {

struct Expected {
  const char* name;
  const char* text;
  std::optional<std::string> shortcut;  // nullopt: never set
};

const std::vector<Expected> kFile = {{"Prefs", "Preferences\xE2\x80\xA6", "Cmd+,"}, {"FileQuit", "Quit", "Cmd+Q"}};
const std::vector<Expected> kEdit = {
    {"EditUndo", "&Undo", "Cmd+Z"},  {"UntitledMenu1", "-", std::nullopt}, {"EditCut", "Cu&t", "Cmd+X"},
    {"EditCopy", "&Copy", "Cmd+C"},  {"EditPaste", "&Paste", "Cmd+V"},     {"EditClear", "Clear", ""},
    {"UntitledMenu0", "-", std::nullopt}, {"EditSelectAll", "Select &All", "Cmd+A"},
};

void ExpectMenu(const fw::Ref<fw::MenuItem>& menu, const Expected& title, const std::vector<Expected>& items) {
  SCOPED_TRACE(title.name);
  EXPECT_EQ(menu->Name(), title.name);
  EXPECT_EQ(menu->Text(), title.text);
  EXPECT_EQ(menu->KeyboardShortcut(), title.shortcut);
  ASSERT_EQ(menu->Count(), static_cast<fw::Int32>(items.size()));
  for (fw::Int32 i = 0; i < menu->Count(); ++i) {
    const Expected& e = items[static_cast<size_t>(i)];
    fw::Ref<fw::MenuItem> item = menu->Item(i);
    SCOPED_TRACE(e.name);
    EXPECT_EQ(item->Name(), e.name);
    EXPECT_EQ(item->Text(), e.text);
    EXPECT_EQ(item->KeyboardShortcut(), e.shortcut);
    EXPECT_TRUE(item->AutoEnable());
  }
}

TEST(MenuBar, TreeHasTwoMenusOfTwoAndEightItemsBuiltOnce) {
  fw::Ref<class MenuBar1> bar = MenuBar1();
  ASSERT_EQ(MenuBar1(), bar);  // a second call builds nothing more
  ASSERT_EQ(bar->Count(), 2);
  ExpectMenu(bar->Item(0), {"FileMenu", "&File", ""}, kFile);
  ExpectMenu(bar->Item(1), {"EditMenu", "&Edit", ""}, kEdit);
}

TEST(MenuBar, PrefsIsAnAppleItemWithOneEllipsisCharacterAndQuitTheFrameworksQuit) {
  fw::Ref<fw::MenuItem> prefs = MenuBar1()->_Lookup("Prefs");
  EXPECT_EQ(prefs->Text().size(), 14u);
  EXPECT_TRUE(std::dynamic_pointer_cast<fw::AppleMenuItem>(prefs.shared()));
  EXPECT_TRUE(std::dynamic_pointer_cast<fw::QuitMenuItem>(MenuBar1()->_Lookup("FileQuit").shared()));
  EXPECT_FALSE(std::dynamic_pointer_cast<fw::QuitMenuItem>(MenuBar1()->_Lookup("EditUndo").shared()));
  EXPECT_EQ(fw::PlatformShortcut(*MenuBar1()->_Lookup("FileQuit")->KeyboardShortcut()), "Ctrl+Q");
}

TEST(MenuBar, ApplicationAndMainWindowShareOneBar) {
  tptest::Program program;
  program.Start();
  ASSERT_EQ(App()->MenuBar(), fw::Ref<fw::MenuBar>(MenuBar1()));
  ASSERT_EQ(Window1()->MenuBar(), App()->MenuBar());
  // A change made through one is seen through the other.
  App()->MenuBar()->_Lookup("EditClear")->Enabled(false);
  EXPECT_FALSE(Window1()->MenuBar()->_Lookup("EditClear")->Enabled());
  MenuBar1()->_Lookup("EditClear")->Enabled(true);
  EXPECT_EQ(Window1()->EditClear(), MenuBar1()->_Lookup("EditClear"));
  EXPECT_EQ(Window1()->FileQuit(), MenuBar1()->_Lookup("FileQuit"));
  tptest::CloseUiWindows();
}

TEST(MenuBar, PreferencesCommandShowsTheDialog) {
  tptest::Program program;
  program.Start();
  EXPECT_FALSE(fw::_GetImplicitWindow("prefsWindow.prefsWindow"));
  fw::testing::ChooseMenuItem(MenuBar1()->_Lookup("Prefs"));
  fw::Ref<fw::Window> dialog = fw::_GetImplicitWindow("prefsWindow.prefsWindow");
  ASSERT_TRUE(dialog);
  EXPECT_TRUE(dialog->IsShown());
  tptest::CloseUiWindows();
}

}  // namespace
