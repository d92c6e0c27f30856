#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include "framework/Application.h"
#include "framework/MenuItem.h"
#include "framework/PropertyBlock.h"
#include "framework/Testing.h"
#include "framework/qt/GuiBacking.h"

using namespace fw;
namespace ft = fw::testing;

namespace {

template <class T = MenuItem>
Ref<T> Item(const char* name, const char* text, const char* shortcut = nullptr) {
  Ref<T> i = New<T>();
  i->Name(name);
  i->AutoEnable(true);
  i->Text(text);
  if (shortcut) i->KeyboardShortcut(shortcut);
  return i;
}

// The program's menu bar: File and Edit.
Ref<MenuBar> BuildBar() {
  auto bar = New<MenuBar>();
  bar->Append(Item("FileMenu", "&File", ""));
  bar->Child("FileMenu")->Append(Item<AppleMenuItem>("Prefs", "Preferences\xE2\x80\xA6", "Cmd+,"));
  bar->Child("FileMenu")->Append(Item<QuitMenuItem>("FileQuit", "Quit", "Cmd+Q"));
  bar->Append(Item("EditMenu", "&Edit", ""));
  bar->Child("EditMenu")->Append(Item("EditUndo", "&Undo", "Cmd+Z"));
  bar->Child("EditMenu")->Append(Item("UntitledMenu1", "-"));
  bar->Child("EditMenu")->Append(Item("EditCut", "Cu&t", "Cmd+X"));
  return bar;
}

QAction* FindAction(QWidget* top, const QString& text) {
  for (QAction* a : top->findChildren<QAction*>())
    if (a->text() == text) return a;
  return nullptr;
}

class MenuTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    app_ = New<Application>();
    app_->CancelClose.Install(std::make_shared<Delegate<bool()>>(
        [] {
          ++quitRequests_;
          return true;
        },
        "Test.CancelClose"));
    app_->_AddMenuHandler("Prefs", std::make_shared<Delegate<bool()>>(
                                       [] {
                                         ++prefsChosen_;
                                         return true;
                                       },
                                       "Test.Prefs"));
    _RuntimeRegisterAppObject(app_);
  }
  void SetUp() override {
    quitRequests_ = prefsChosen_ = 0;
    app_->MenuBar(nullptr);
  }
  static Ref<Window> NewWindow() {
    auto w = New<Window>();
    _SetProperties(w, EncodePropertyBlock({{"Width", 300}, {"Height", 100}, {"Visible", true}}));
    w->Constructor();
    return w;
  }

  static inline Ref<Application> app_;
  static inline int quitRequests_ = 0, prefsChosen_ = 0;
};

TEST(PlatformShortcut, CommandMeansControlHere) {
  const std::pair<const char*, const char*> rows[] = {
      {"Cmd+Q", "Ctrl+Q"},  {"Cmd+,", "Ctrl+,"}, {"Cmd+Shift+Z", "Ctrl+Shift+Z"}, {"Cmd++", "Ctrl++"},
      {"Option+Cmd+A", "Alt+Ctrl+A"}, {"Ctrl+X", "Meta+X"}, {"F5", "F5"}, {"", ""}};
  for (const auto& [mac, here] : rows) EXPECT_EQ(PlatformShortcut(mac), here) << mac;
}

TEST_F(MenuTest, ShortcutSetToEmptyDiffersFromNeverSet) {
  auto bar = BuildBar();
  EXPECT_EQ(bar->Child("FileMenu")->KeyboardShortcut(), std::optional<String>(""));
  EXPECT_EQ(bar->_Lookup("UntitledMenu1")->KeyboardShortcut(), std::nullopt);
}

TEST_F(MenuTest, TreeIsFoundByNameAndAnyChangeBelowReachesTheBar) {
  auto bar = BuildBar();
  EXPECT_EQ(bar->Count(), 2);
  EXPECT_EQ(bar->Child("FileMenu")->Count(), 2);
  EXPECT_EQ(bar->Child("Prefs"), nullptr) << "Child must look at direct children only";
  Ref<MenuItem> prefs = bar->_Lookup("Prefs");
  ASSERT_TRUE(prefs);
  EXPECT_EQ(prefs->Parent(), bar->Child("FileMenu"));
  EXPECT_TRUE(RuntimeCheckCast<AppleMenuItem>(prefs));
  const auto before = bar->Generation();
  prefs->Text("Settings");
  EXPECT_NE(bar->Generation(), before) << "windows would keep showing the old text";
  EXPECT_THROW(prefs->Append(bar), RuntimeException) << "a menu appended below itself";
}

TEST_F(MenuTest, ChoosingRunsTheItemsOwnHandlerElseTheApplicationsByName) {
  auto bar = BuildBar();
  EXPECT_TRUE(ft::ChooseMenuItem(bar->_Lookup("Prefs")));
  EXPECT_EQ(prefsChosen_, 1);
  EXPECT_FALSE(ft::ChooseMenuItem(bar->_Lookup("EditCut"))) << "no handler anywhere";

  int own = 0;
  auto undo = bar->_Lookup("EditUndo");
  undo->Name("Prefs");  // same name as the application's handler
  undo->Action.Install(std::make_shared<Delegate<bool()>>([&] { return ++own, true; }, "Test.Own"));
  EXPECT_TRUE(ft::ChooseMenuItem(undo));
  EXPECT_EQ(own, 1);
  EXPECT_EQ(prefsChosen_, 1) << "the application's handler ran although the item has its own";
}

TEST_F(MenuTest, QuitItemAsksTheApplicationWhetherToQuit) {
  auto bar = BuildBar();
  ft::ChooseMenuItem(bar->_Lookup("FileQuit"));
  EXPECT_EQ(quitRequests_, 1);
}

TEST_F(MenuTest, WindowShowsTheTreeWithMappedShortcutsAndSeparators) {
  auto w = NewWindow();
  auto bar = BuildBar();
  w->MenuBar(bar);
  QMenuBar* qbar = w->backing().menuBar;
  ASSERT_TRUE(qbar);
  ASSERT_EQ(qbar->actions().size(), 2);
  EXPECT_EQ(qbar->actions()[0]->text(), "&File");
  QMenu* edit = qbar->actions()[1]->menu();
  ASSERT_TRUE(edit);
  ASSERT_EQ(edit->actions().size(), 3);
  EXPECT_TRUE(edit->actions()[1]->isSeparator());

  QAction* quit = FindAction(w->backing().top, "Quit");
  QAction* prefs = FindAction(w->backing().top, QString::fromUtf8("Preferences\xE2\x80\xA6"));
  ASSERT_TRUE(quit && prefs);
  EXPECT_EQ(quit->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
  EXPECT_EQ(prefs->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));

  prefs->trigger();
  EXPECT_TRUE(ft::RunEventLoopUntil([] { return prefsChosen_ == 1; }, 1000)) << "choosing the item did nothing";
  quit->trigger();
  EXPECT_TRUE(ft::RunEventLoopUntil([] { return quitRequests_ == 1; }, 1000));

  bar->Child("EditMenu")->Append(Item("EditPaste", "&Paste", "Cmd+V"));
  w->Show();
  EXPECT_TRUE(FindAction(w->backing().top, "&Paste")) << "the menu bar was not rebuilt after the tree changed";
  w->Close();
}

TEST_F(MenuTest, WindowsWithoutTheirOwnBarCarryTheApplicationsShortcuts) {
  app_->MenuBar(BuildBar());
  auto a = NewWindow();
  auto b = NewWindow();
  for (const auto& w : {a, b}) {
    EXPECT_EQ(w->MenuBar(), app_->MenuBar());
    bool found = false;
    for (QAction* act : w->backing().top->actions()) found |= act->shortcut() == QKeySequence(Qt::CTRL | Qt::Key_Q);
    EXPECT_TRUE(found) << "Ctrl+Q would not work while this window has focus";
  }
  a->Close();
  b->Close();
}

}  // namespace
