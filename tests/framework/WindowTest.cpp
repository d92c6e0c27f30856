#include <gtest/gtest.h>

#include <QImage>

#include "framework/Application.h"
#include "framework/DisclosureTriangle.h"
#include "framework/Listbox.h"
#include "framework/MenuItem.h"
#include "framework/PropertyBlock.h"
#include "framework/StaticText.h"
#include "framework/Testing.h"
#include "framework/qt/GuiBacking.h"
#include "support/TestEnvironment.h"

using namespace fw;
namespace ft = fw::testing;

namespace {

std::vector<String>& Log() {
  static std::vector<String> log;
  return log;
}

template <class T>
Ref<T> AddControl(Window& w, const String& name, const PropList& props) {
  Ref<T> c = w.__New<T>();
  c->Constructor();
  w._AddControl(name, c);
  _SetProperties(RuntimeWindowControlByName(RefTo(&w), name), EncodePropertyBlock(props));
  return c;
}

// Builds itself from data as the program's windows do, and logs each step.
class LogWindow : public Window {
 public:
  void OnLayout() {
    Log().push_back("Layout");
    _SetProperties(RefTo(this), EncodePropertyBlock({{"Width", 200}, {"Height", 120}, {"Visible", false}}));
  }
  void OnCreateControls() {
    Log().push_back("CreateControls");
    for (const char* name : {"first", "second"}) {
      AddControl<StaticText>(*this, name, {{"Left", 5}, {"Top", 5}, {"Width", 50}, {"Height", 20}});
      _InstallInstanceEventHandler(RuntimeWindowControlByName(RefTo(this), name), "Open",
                                   NewDelegate(this, name == String("first") ? &LogWindow::FirstOpen
                                                                            : &LogWindow::SecondOpen,
                                               "LogWindow.Open"));
    }
  }
  void FirstOpen() { Log().push_back("Open first"); }
  void SecondOpen() { Log().push_back("Open second"); }
  void OnOpen() { Log().push_back("Open window"); }
  void OnClose() { Log().push_back("Close"); }
  void TriangleAction() { Log().push_back("Action"); }
  bool WrongShape() { return false; }
};

class OtherWindow : public Window {};

// A non-visual control, like a listener that sits on a window.
class Pane : public Object, public _PaneChild {
 public:
  void _SetWindow(Ref<fw::Window> w) override { owner = w; }
  Ref<fw::Window> Window() override { return owner; }
  Int32 _Index() override { return index; }
  void _SetIndex(Int32 i) override { index = i; }
  Ref<fw::Window> owner;
  Int32 index = 0;
};

class WindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    RegisterClass(ClassBuilder<LogWindow, Window>("Test.LogWindow", "Window")
                      .Hook("Layout", &LogWindow::OnLayout, "OnLayout")
                      .Hook("CreateControls", &LogWindow::OnCreateControls, "OnCreateControls")
                      .Hook("Open", &LogWindow::OnOpen, "OnOpen")
                      .Hook("Close", &LogWindow::OnClose, "OnClose"));
    RegisterClass(ClassBuilder<OtherWindow, Window>("Test.OtherWindow", "Window"));
    RegisterClass(ClassBuilder<Pane, Object>("Test.Pane", "Object"));
    app_ = New<Application>();
    app_->CancelClose.Install(std::make_shared<Delegate<bool()>>(
        [] {
          ++quitRequests_;
          return true;  // keep the test running
        },
        "Test.CancelClose"));
    _RuntimeRegisterAppObject(app_);
  }
  void SetUp() override {
    Log().clear();
    quitRequests_ = 0;
  }
  void TearDown() override {
    for (const char* cls : {"Test.LogWindow", "Test.OtherWindow"})
      if (auto w = _GetImplicitWindow(cls)) w->Close();
    ft::RunEventLoopFor(1);
  }

  // The accessor pattern the program's windows use.
  template <class T>
  static Ref<T> Implicit(const String& cls) {
    if (auto w = _GetImplicitWindow(cls)) return RuntimeCheckCast<T>(w);
    Ref<T> w = New<T>();
    w->Constructor();
    return w;
  }

  static inline Ref<Application> app_;
  static inline int quitRequests_ = 0;
};

TEST_F(WindowTest, ConstructionRunsLayoutControlsTheirOpensThenWindowOpen) {
  Implicit<LogWindow>("Test.LogWindow");
  EXPECT_EQ(Log(), (std::vector<String>{"Layout", "CreateControls", "Open first", "Open second", "Open window"}));
}

TEST_F(WindowTest, SecondAccessGivesTheSameWindowUntilItCloses) {
  auto a = Implicit<LogWindow>("Test.LogWindow");
  auto b = Implicit<LogWindow>("Test.LogWindow");
  EXPECT_EQ(a, b);
  EXPECT_EQ(a->ControlCount(), 2) << "a second construction added controls";
  auto other = Implicit<OtherWindow>("Test.OtherWindow");
  EXPECT_NE(static_cast<Window*>(other.get()), static_cast<Window*>(a.get()));

  std::weak_ptr<Object> gone = a.shared();
  a->Close();
  EXPECT_EQ(std::count(Log().begin(), Log().end(), "Close"), 1);
  EXPECT_EQ(_GetImplicitWindow("Test.LogWindow"), nullptr);
  a = b = nullptr;
  EXPECT_TRUE(ft::RunEventLoopUntil([&] { return gone.expired(); }, 2000)) << "closed window never released";
  auto c = Implicit<LogWindow>("Test.LogWindow");
  EXPECT_EQ(_GetImplicitWindow("Test.LogWindow"), c);
}

TEST_F(WindowTest, UserClosingAClosableWindowRaisesCloseAndDropsIt) {
  auto w = Implicit<LogWindow>("Test.LogWindow");
  w->Show();
  ASSERT_TRUE(w->IsShown());
  w->backing().top->close();  // as the title bar's close control does
  EXPECT_FALSE(w->IsShown());
  EXPECT_EQ(std::count(Log().begin(), Log().end(), "Close"), 1);
  EXPECT_EQ(_GetImplicitWindow("Test.LogWindow"), nullptr);
  ft::RunEventLoopFor(20);
  EXPECT_EQ(quitRequests_, 0);
}

TEST_F(WindowTest, WindowWithoutCloseButtonTurnsACloseIntoAQuitRequest) {
  auto w = Implicit<OtherWindow>("Test.OtherWindow");
  _SetProperties(w, EncodePropertyBlock({{"CloseButton", false}, {"Resizeable", false}, {"MaximizeButton", false}}));
  w->Show();
  QWidget* top = w->backing().top;
  EXPECT_FALSE(top->windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(top->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(top->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_EQ(top->minimumSize(), top->maximumSize()) << "a window that may not be resized must have a fixed size";

  top->close();  // a window manager closing it all the same
  EXPECT_TRUE(ft::RunEventLoopUntil([] { return quitRequests_ == 1; }, 2000));
  EXPECT_TRUE(w->IsShown()) << "the quit was cancelled, so the window stays";
  EXPECT_EQ(_GetImplicitWindow("Test.OtherWindow"), w);
}

TEST_F(WindowTest, ControlIsFoundByNameAndAWrongCastIsRefused) {
  auto w = Implicit<LogWindow>("Test.LogWindow");
  Ref<Object> c = RuntimeWindowControlByName(w, "second");
  ASSERT_TRUE(c);
  EXPECT_EQ(RuntimeCheckCast<StaticText>(c)->Name(), "second");
  EXPECT_THROW(RuntimeCheckCast<Listbox>(c), IllegalCastException);
  EXPECT_EQ(RuntimeWindowControlByName(w, "missing"), nullptr);
  EXPECT_THROW(RuntimeWindowControlByName(nullptr, "second"), NilObjectException);
}

TEST_F(WindowTest, DelegateIsWiredByEventNameAndAMismatchIsRefused) {
  auto w = Implicit<LogWindow>("Test.LogWindow");
  auto tri = AddControl<DisclosureTriangle>(*w, "tri", {{"Width", 18}, {"Height", 18}});
  _InstallInstanceEventHandler(tri, "Action", NewDelegate(w.get(), &LogWindow::TriangleAction, "LogWindow.tri_Action"));
  ft::Click(tri, 9, 9);
  EXPECT_EQ(std::count(Log().begin(), Log().end(), "Action"), 1);
  EXPECT_TRUE(tri->Value());

  try {
    _InstallInstanceEventHandler(tri, "Action", NewDelegate(w.get(), &LogWindow::WrongShape, "LogWindow.WrongShape"));
    FAIL() << "a handler of another signature was installed";
  } catch (const RuntimeException& e) {
    const String what = e.what();
    EXPECT_NE(what.find("Action"), String::npos) << what;
    EXPECT_NE(what.find("(  )"), String::npos) << what;
    EXPECT_NE(what.find("(  ) as Boolean"), String::npos) << what;
  }
  try {
    _InstallInstanceEventHandler(tri, "Clicked", NewDelegate(w.get(), &LogWindow::TriangleAction, "LogWindow.x"));
    FAIL() << "a handler for a missing event was installed";
  } catch (const RuntimeException& e) {
    EXPECT_NE(String(e.what()).find("Clicked"), String::npos) << e.what();
  }
  ft::Click(tri, 9, 9);
  EXPECT_EQ(std::count(Log().begin(), Log().end(), "Action"), 2) << "a refused handler replaced the wired one";
}

TEST_F(WindowTest, FoldedHeightIsKeptBelowMinimumAndTheTopRowStillShows) {
  auto w = Implicit<OtherWindow>("Test.OtherWindow");
  auto bar = New<MenuBar>();
  auto file = New<MenuItem>();
  file->Text("&File");
  bar->Append(file);
  auto quit = New<QuitMenuItem>();
  quit->Text("Quit");
  file->Append(quit);
  w->MenuBar(bar);
  _SetProperties(w, EncodePropertyBlock({{"Width", 300}, {"Height", 200}, {"MinHeight", 64}, {"Resizeable", false}}));
  auto list = AddControl<Listbox>(*w, "top", {{"Left", 0}, {"Top", 0}, {"Width", 300}, {"Height", 60}});
  list->CellBackgroundPaint.Install(std::make_shared<Delegate<bool(Ref<Graphics>, Int32, Int32)>>(
      [](Ref<Graphics> g, Int32, Int32) {
        g->ForeColor(RGB(0, 160, 0));
        g->FillRect(0, 0, g->Width(), g->Height());
        return false;
      },
      "Test.Paint"));
  list->AddRow("");
  w->Show();
  w->Height(30);
  EXPECT_EQ(w->Height(), 30);
  EXPECT_EQ(w->MinHeight(), 64);
  ASSERT_TRUE(ft::RunEventLoopUntil([&] { return list->backing().widget && w->IsShown(); }, 2000));
  ft::RunEventLoopFor(20);

  const ft::Image img = ft::RenderWindow(w);
  EXPECT_EQ(img.height, 30);
  EXPECT_EQ(img.width, 300);
  EXPECT_EQ(img.Pixel(150, 8), RGB(0, 160, 0)) << "the top row is not drawn in the folded window";

  // The menu bar sits above the content and hides none of it.
  tptest::TempDir dir;
  ASSERT_TRUE(ft::SaveWindowPng(w, dir / "w.png"));
  QImage whole(QString::fromStdString(dir / "w.png"));
  const int bar_h = whole.height() - 30;
  EXPECT_GT(bar_h, 0) << "no menu bar drawn";
  EXPECT_EQ(QColor(whole.pixel(150, bar_h + 8)), QColor(0, 160, 0));
}

TEST_F(WindowTest, VisibleInTheLayoutShowsTheWindowOnceBuilt) {
  auto hidden = Implicit<LogWindow>("Test.LogWindow");  // its layout says Visible False
  EXPECT_FALSE(hidden->IsShown());
  auto shown = New<OtherWindow>();
  _SetProperties(shown, EncodePropertyBlock({{"Visible", true}}));
  shown->Constructor();
  EXPECT_TRUE(shown->IsShown());
  shown->Close();
}

TEST_F(WindowTest, TabOrderFollowsTabIndexAmongControlsThatTakeFocus) {
  auto w = New<OtherWindow>();
  w->Constructor();
  // Created in one order, tabbed in another; the label and the triangle
  // without AcceptFocus take no focus.
  AddControl<Listbox>(*w, "list", {{"TabIndex", 3}, {"TabStop", true}, {"Width", 50}, {"Height", 50}});
  AddControl<StaticText>(*w, "label", {{"TabIndex", 0}});
  AddControl<DisclosureTriangle>(*w, "tri", {{"TabIndex", 1}, {"TabStop", true}, {"AcceptFocus", false}});
  AddControl<DisclosureTriangle>(*w, "tri2", {{"TabIndex", 2}, {"TabStop", true}, {"AcceptFocus", true}});
  AddControl<Listbox>(*w, "first", {{"TabIndex", 1}, {"TabStop", true}, {"Width", 50}, {"Height", 50}});
  AddControl<Listbox>(*w, "nostop", {{"TabIndex", 0}, {"TabStop", false}, {"Width", 50}, {"Height", 50}});
  EXPECT_EQ(ft::TabOrder(w), (std::vector<String>{"first", "tri2", "list"}));
  w->Close();
}

TEST_F(WindowTest, NonVisualControlLearnsItsWindow) {
  auto w = New<OtherWindow>();
  w->Constructor();
  auto pane = New<Pane>();
  w->_AddControl("listener", pane);
  EXPECT_EQ(pane->owner.get(), static_cast<Window*>(w.get()));
  EXPECT_EQ(RuntimeWindowControlByName(w, "listener"), Ref<Object>(pane));
  w->Close();
}

}  // namespace
