// The main window as start-up builds it: its controls, the fold, the list of
// call files and its count, the striping, and the TCP listener.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <filesystem>

#include "capture/App.h"
#include "framework/Testing.h"
#include "support/InProcessProgram.h"
#include "support/NetNamespace.h"
#include "support/TcpClient.h"
#include "support/TestEnvironment.h"
#include "ui/MenuBar1.h"
#include "ui/Window1.h"

namespace {

namespace fs = std::filesystem;
namespace t = fw::testing;

template <class T>
fw::Ref<T> Ctl(const char* name) { return tptest::ControlOf<T>(Window1(), name); }

std::vector<std::string> Rows() {
  fw::Ref<fw::Listbox> list = Ctl<fw::Listbox>("fileList");
  std::vector<std::string> rows;
  for (fw::Int32 i = 0; i < list->ListCount(); ++i) rows.push_back(list->List(i));
  return rows;
}

std::string CountLine() { return Ctl<fw::StaticText>("callStatus")->Text(); }

class MainWindow : public ::testing::Test {
 protected:
  void Start() { program.Start(); }
  void AddFile(const std::string& name, const std::string& content) {
    fs::create_directories(program.callsDir());
    tptest::WriteFile(program.callsDir() + "/" + name, content);
  }
  // The user's way to have the list rebuilt.
  void ClickCountLine() { t::Click(Ctl<fw::RectControl>("callStatus")); }
  void TearDown() override { tptest::CloseUiWindows(); }
  tptest::Program program;
};

TEST_F(MainWindow, StartsFoldedAndVisibleWithTheSharedMenuBar) {
  Start();
  fw::Ref<class Window1> w = Window1();
  EXPECT_EQ(w, Window1());
  EXPECT_TRUE(w->IsShown());
  EXPECT_EQ(w->Height(), 30);
  EXPECT_EQ(w->Width(), 603);
  EXPECT_EQ(w->Title(), "TallyPoint");
  EXPECT_FALSE(w->CloseButton());
  EXPECT_FALSE(w->Resizeable());
  EXPECT_FALSE(w->MaximizeButton());
  EXPECT_TRUE(w->MinimizeButton());
  EXPECT_EQ(w->MenuBar(), fw::Ref<fw::MenuBar>(MenuBar1()));
  EXPECT_EQ(w->Prefs(), MenuBar1()->_Lookup("Prefs"));
}

struct Placement {
  const char* name;
  fw::Int32 left, top, width, height, tabIndex;
  bool visible;
};

TEST_F(MainWindow, ControlsStandWhereTheLayoutPutsThemInCreationOrder) {
  Start();
  const Placement expected[] = {
      {"serialOpen", 577, 6, 16, 16, 0, false},      {"DisclosureTriangle1", 11, 6, 18, 18, 1, true},
      {"fileList", 11, 36, 577, 334, 2, true},       {"callStatus", 29, 6, 359, 20, 3, true},
      {"bufferview", 13, 376, 575, 20, 4, true},     {"portStatus", 206, 6, 359, 20, 5, true},
  };
  fw::Ref<class Window1> w = Window1();
  ASSERT_EQ(w->ControlCount(), 7);
  for (fw::Int32 i = 0; i < 6; ++i) {
    const Placement& p = expected[i];
    SCOPED_TRACE(p.name);
    fw::Ref<fw::RectControl> c = fw::RuntimeCheckCast<fw::RectControl>(w->Control(i));
    EXPECT_EQ(c, Ctl<fw::RectControl>(p.name));
    EXPECT_EQ(c->Left(), p.left);
    EXPECT_EQ(c->Top(), p.top);
    EXPECT_EQ(c->Width(), p.width);
    EXPECT_EQ(c->Height(), p.height);
    EXPECT_EQ(c->TabIndex(), p.tabIndex);
    EXPECT_EQ(c->Visible(), p.visible);
  }
  EXPECT_TRUE(Ctl<fw::RectControl>("serialOpen")->LockRight());
  EXPECT_TRUE(Ctl<fw::RectControl>("portStatus")->LockTop());
  EXPECT_TRUE(Ctl<fw::RectControl>("portStatus")->LockRight());
  EXPECT_FALSE(Ctl<fw::RectControl>("fileList")->LockBottom());

  fw::Ref<fw::ServerSocket> server = Ctl<fw::ServerSocket>("ipServer");
  EXPECT_EQ(w->Control(6), fw::Ref<fw::Object>(server));
  EXPECT_TRUE(server->IsA("Window1.ipServer"));
  EXPECT_EQ(server->Port(), 23);
  EXPECT_EQ(server->MinimumSocketsAvailable(), 1);
  EXPECT_EQ(server->MaximumSocketsConnected(), 2);
}

TEST_F(MainWindow, TextsFontsAndFocusOrderAreTheLayouts) {
  Start();
  EXPECT_EQ(Ctl<fw::StaticText>("bufferview")->Text(), "");
  EXPECT_EQ(Ctl<fw::StaticText>("portStatus")->TextAlign(), 2);
  EXPECT_EQ(Ctl<fw::StaticText>("callStatus")->TextAlign(), 0);
  EXPECT_FALSE(Ctl<fw::DisclosureTriangle>("DisclosureTriangle1")->AcceptFocus());

  // The list and the buffer line in the monospaced font, the buffer line at 10.
  auto family = [](const char* name) { return t::FontFamily(Ctl<fw::RectControl>(name)); };
  EXPECT_EQ(family("fileList"), family("bufferview"));
  EXPECT_EQ(family("callStatus"), family("portStatus"));
  EXPECT_NE(family("bufferview"), family("callStatus"));
  EXPECT_EQ(t::FontPointSize(Ctl<fw::RectControl>("bufferview")), 10);
  EXPECT_EQ(Ctl<fw::Listbox>("fileList")->TextFont(), "Courier");

  // Whatever takes focus takes it in creation order, and the list does.
  const std::vector<std::string> creation = {"serialOpen", "DisclosureTriangle1", "fileList",
                                             "callStatus", "bufferview",          "portStatus"};
  std::vector<std::string> order = t::TabOrder(Window1());
  EXPECT_NE(std::find(order.begin(), order.end(), "fileList"), order.end());
  size_t at = 0;
  for (const std::string& name : order) {
    while (at < creation.size() && creation[at] != name) ++at;
    EXPECT_LT(at, creation.size()) << name << " out of creation order";
  }
}

struct FoldCase {
  fw::Int32 before;
  bool triangleValue;
  fw::Int32 after;
};

TEST_F(MainWindow, TriangleFoldsAndUnfoldsByTheHeightAlone) {
  Start();
  fw::Ref<class Window1> w = Window1();
  fw::Ref<fw::DisclosureTriangle> triangle = Ctl<fw::DisclosureTriangle>("DisclosureTriangle1");
  const FoldCase cases[] = {{30, false, 400}, {400, true, 30}, {30, true, 400}, {403, false, 30}, {64, true, 30}};
  for (const FoldCase& c : cases) {
    SCOPED_TRACE(c.before);
    w->Height(c.before);
    triangle->Value(c.triangleValue);
    t::Click(triangle);
    EXPECT_EQ(w->Height(), c.after);
  }
}

TEST_F(MainWindow, FoldedWindowStillShowsItsTopRow) {
  Start();
  Ctl<fw::StaticText>("portStatus")->Text("Idle");
  t::Image folded = t::RenderWindow(Window1());
  ASSERT_EQ(folded.height, 30);
  // Some pixel of the status text differs from the window's background.
  fw::Color background = folded.Pixel(600, 28);
  bool drawn = false;
  for (fw::Int32 x = 400; x < 565 && !drawn; ++x)
    for (fw::Int32 y = 6; y < 26 && !drawn; ++y) drawn = !(folded.Pixel(x, y) == background);
  EXPECT_TRUE(drawn);
}

struct ListCase {
  const char* label;
  std::vector<std::pair<std::string, std::string>> files;  // name, content; a name ending in "/" is a folder
  std::vector<std::string> rows;
  const char* countLine;
};

class FileListing : public MainWindow, public ::testing::WithParamInterface<ListCase> {};

TEST_P(FileListing, ListAndCountFollowTheCallsFolder) {
  Start();
  const ListCase& c = GetParam();
  for (const auto& [name, content] : c.files) {
    if (name.back() == '/') fs::create_directories(program.callsDir() + "/" + name);
    else AddFile(name, content);
  }
  ClickCountLine();
  EXPECT_EQ(Rows(), c.rows);
  EXPECT_EQ(CountLine(), c.countLine);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileListing,
    ::testing::Values(
        ListCase{"Empty", {}, {}, "0 calls collected"},
        ListCase{"One", {{"20240102030405 0.txt", "CALL 1"}}, {"CALL 1"}, "1 call collected"},
        ListCase{"Two", {{"a.txt", "CALL A"}, {"b.txt", "CALL B"}}, {"CALL A", "CALL B"}, "2 calls collected"},
        ListCase{"FolderIsNoCall", {{"sub.txt/", ""}, {"a.txt", "CALL A"}}, {"CALL A"}, "1 call collected"},
        ListCase{"OtherTypeIsNoCall", {{"notes.dat", "x"}, {"a.txt", "CALL A"}}, {"CALL A"}, "1 call collected"},
        ListCase{"FirstLineOnly", {{"a.txt", "first\rsecond\nthird"}}, {"first"}, "1 call collected"},
        ListCase{"EmptyFirstLineCounts", {{"a.txt", "\nsecond"}, {"b.txt", ""}}, {"", ""}, "2 calls collected"},
        // Written in reverse; listed in the folder's order of names.
        ListCase{"FolderOrderNotWritingOrder",
                 {{"20240102 2.txt", "THIRD"}, {"20240102 1.txt", "SECOND"}, {"20240101 9.txt", "FIRST"}},
                 {"FIRST", "SECOND", "THIRD"},
                 "3 calls collected"}),
    [](const ::testing::TestParamInfo<ListCase>& info) { return std::string(info.param.label); });

TEST_F(MainWindow, FilesPresentAtStartAreListedWhenTheWindowOpens) {
  AddFile("a.txt", "CALL A");
  AddFile("b.txt", "CALL B\r\n");
  Start();
  EXPECT_EQ(Rows(), (std::vector<std::string>{"CALL A", "CALL B"}));
  EXPECT_EQ(CountLine(), "2 calls collected");
}

TEST_F(MainWindow, ClickOnCountLineDropsFilesDeletedMeanwhile) {
  AddFile("a.txt", "CALL A");
  AddFile("b.txt", "CALL B");
  Start();
  ASSERT_EQ(Rows().size(), 2u);
  fs::remove(program.callsDir() + "/a.txt");
  ClickCountLine();
  EXPECT_EQ(Rows(), (std::vector<std::string>{"CALL B"}));
  EXPECT_EQ(CountLine(), "1 call collected");
}

// With no file descriptor left, no call file can be opened: each keeps a row
// (its name) and is counted, and the rebuild runs to its end.
TEST_F(MainWindow, UnreadableCallFilesKeepTheirRowsAndTheCountLine) {
  AddFile("a.txt", "CALL A\r" + std::string(8192, 'x'));
  AddFile("b.txt", "CALL B\r" + std::string(8192, 'x'));
  // An old folder time lets the listing be trusted without a rescan.
  fs::last_write_time(program.callsDir(), fs::file_time_type::clock::now() - std::chrono::hours(1));
  Start();
  ASSERT_EQ(Rows(), (std::vector<std::string>{"CALL A", "CALL B"}));
  Ctl<fw::StaticText>("callStatus")->Text("stale");
  // Changed since they were listed: reading them again needs a descriptor.
  AddFile("a.txt", "CALL C");
  AddFile("b.txt", "CALL D");

  rlimit old{};
  getrlimit(RLIMIT_NOFILE, &old);
  int lowest = dup(0);
  close(lowest);
  rlimit none = old;
  none.rlim_cur = static_cast<rlim_t>(lowest);
  setrlimit(RLIMIT_NOFILE, &none);
  int reported = fw::UnhandledExceptionCount();
  Window1()->updateFileList();
  setrlimit(RLIMIT_NOFILE, &old);

  EXPECT_EQ(Rows(), (std::vector<std::string>{"a.txt", "b.txt"}));
  EXPECT_EQ(CountLine(), "2 calls collected");
  EXPECT_EQ(fw::UnhandledExceptionCount(), reported + 2);
}

const fw::Color kStripe = fw::RGB(250, 250, 250);

// Runs of striped and unstriped pixels down one column of the list:
// (striped, first y, length).
struct Band {
  bool striped;
  fw::Int32 y, length;
};
std::vector<Band> StripeBands(const t::Image& img) {
  std::vector<Band> runs;
  for (fw::Int32 y = 36; y < 36 + 334; ++y) {
    bool striped = img.Pixel(300, y) == kStripe;
    if (runs.empty() || runs.back().striped != striped) runs.push_back({striped, y, 0});
    ++runs.back().length;
  }
  return runs;
}

// Rows reach the screen when control returns to the event loop.
bool StripesShown(long atLeast) {
  std::vector<Band> runs = StripeBands(t::RenderWindow(Window1()));
  return std::count_if(runs.begin(), runs.end(), [](const Band& r) { return r.striped; }) >= atLeast;
}

// Rows 0, 2 and 4 striped, one row high, starting at the list's top (y 36),
// with rows 1 and 3 left alone; focus on the list marks no row.
TEST_F(MainWindow, EvenRowsAreStripedOnScreenAndOddRowsAreNot) {
  for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt", "e.txt"}) AddFile(name, "CALL");
  Start();
  Window1()->Height(400);
  ASSERT_EQ(Rows().size(), 5u);
  ASSERT_TRUE(t::RunEventLoopUntil([] { return StripesShown(3); }, 3000));
  std::vector<Band> stripes;
  for (const Band& r : StripeBands(t::RenderWindow(Window1())))
    if (r.striped) stripes.push_back(r);
  ASSERT_EQ(stripes.size(), 3u) << "rows 0, 2 and 4, and nothing below the last row";
  const fw::Int32 height = (stripes[1].y - stripes[0].y) / 2;
  EXPECT_NEAR(stripes[0].y, 36, 4) << "the first stripe is not row 0";
  for (const Band& r : stripes) EXPECT_NEAR(r.length, height, 1) << "a stripe is not one whole row";
  // Nothing striped between them: rows 1 and 3 keep the list's background.
  EXPECT_EQ(stripes[1].y - (stripes[0].y + stripes[0].length), height);
  EXPECT_EQ(stripes[2].y - (stripes[1].y + stripes[1].length), height);
}

TEST_F(MainWindow, EveryListenerErrorCodeShowsTheSameTextAndNothingElse) {
  AddFile("a.txt", "A");
  Start();
  fw::Ref<fw::ServerSocket> server = Ctl<fw::ServerSocket>("ipServer");
  for (fw::Int32 code : {0, 100, 102, 105, 106, -1, INT_MIN, INT_MAX}) {
    SCOPED_TRACE(code);
    Ctl<fw::StaticText>("portStatus")->Text("before");
    server->Error.Raise(code);
    EXPECT_EQ(Ctl<fw::StaticText>("portStatus")->Text(), "Unable to use IP sockets");
    EXPECT_EQ(Rows(), std::vector<std::string>{"A"});
    EXPECT_EQ(CountLine(), "1 call collected");
    EXPECT_EQ(Window1()->Height(), 30);
  }
}

TEST_F(MainWindow, EverySocketRequestGetsANewIPSocket) {
  Start();
  fw::Ref<fw::ServerSocket> server = Ctl<fw::ServerSocket>("ipServer");
  fw::Ref<fw::TCPSocket> first = server->AddSocket.Raise();
  fw::Ref<fw::TCPSocket> second = server->AddSocket.Raise();
  ASSERT_TRUE(first && second);
  EXPECT_NE(first, second);
  EXPECT_TRUE(first->IsA("IPSocket"));
  EXPECT_TRUE(second->IsA("IPSocket"));
  EXPECT_FALSE(first->IsConnected());
}

// The whole road through the window's own listener: a record sent to port 23
// becomes a call file and a row of the list.
TEST_F(MainWindow, RecordSentToPort23IsListed) {
  // Port 23 of a namespace of its own: the host's may be taken or reserved.
  tptest::NetNamespace net;
  if (!net.ok()) GTEST_SKIP() << net.why();
  Start();
  ASSERT_TRUE(Ctl<fw::ServerSocket>("ipServer")->IsListening());
  tptest::TcpClient client(23);
  client.Send("0102 1230 201 5551234\r\n");
  EXPECT_TRUE(tptest::RunUntil([] { return Rows() == std::vector<std::string>{"0102 1230 201 5551234"}; }, 5000));
  EXPECT_EQ(CountLine(), "1 call collected");
}

TEST_F(MainWindow, RendersFoldedAndUnfoldedImages) {
  AddFile("20240102090000 0.txt", "01/02 09:00 201 00:02:13 5551234");
  AddFile("20240102091500 0.txt", "01/02 09:15 204 00:00:41 5559876");
  AddFile("20240102093000 0.txt", "01/02 09:30 201 00:11:02 5550000");
  Start();
  Ctl<fw::StaticText>("bufferview")->Text("01/02 09:31 2");
  const std::string dir = TALLYPOINT_BUILD_DIR;
  for (auto [height, file] : {std::pair{400, "/main-window-unfolded.png"}, std::pair{30, "/main-window-folded.png"}}) {
    Window1()->Height(height);
    if (height == 400) {
      ASSERT_TRUE(t::RunEventLoopUntil([] { return StripesShown(1); }, 3000));
    }
    Ctl<fw::StaticText>("portStatus")->Text("Idle");
    std::error_code ec;
    fs::remove(dir + file, ec);
    ASSERT_TRUE(t::SaveWindowPng(Window1(), dir + file));
    EXPECT_GT(fs::file_size(dir + file), 0u);
  }
}

}  // namespace
