#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QListView>
#include <cstdio>
#include <filesystem>
#include <unistd.h>

#include "framework/DisclosureTriangle.h"
#include "framework/FolderItem.h"
#include "framework/Listbox.h"
#include "framework/PopupMenu.h"
#include "framework/ProgressWheel.h"
#include "framework/PropertyBlock.h"
#include "framework/StaticText.h"
#include "framework/TextInputStream.h"
#include "framework/Testing.h"
#include "framework/qt/GuiBacking.h"
#include "support/TestEnvironment.h"

using namespace fw;
namespace ft = fw::testing;

namespace {

class ControlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    w_ = New<Window>();
    _SetProperties(w_, EncodePropertyBlock({{"Width", 400}, {"Height", 300}, {"Visible", true}}));
    w_->Constructor();
  }
  void TearDown() override { w_->Close(); }

  template <class T>
  Ref<T> Add(const String& name, const PropList& props) {
    Ref<T> c = w_->__New<T>();
    c->Constructor();
    w_->_AddControl(name, c);
    _SetProperties(c, EncodePropertyBlock(props));
    return c;
  }

  Ref<Window> w_;
};

TEST_F(ControlsTest, TenMegabyteTextIsTakenWithoutStallingTheWindow) {
  auto t = Add<StaticText>("bufferview", {{"Left", 10}, {"Top", 10}, {"Width", 300}, {"Height", 20},
                                          {"TextFont", "Courier"}, {"TextSize", 10}});
  String big(10 * 1024 * 1024, 'x');
  for (std::size_t i = 0; i < big.size(); i += 97) big[i] = '\r';
  const String bigger = big + "y";
  ft::RenderWindow(w_);  // fonts load on first use; that is not the text's cost
  QElapsedTimer clock;
  clock.start();
  t->Text(big);
  const ft::Image img = ft::RenderWindow(w_);  // paints the text
  t->Text(bigger);
  ft::RenderWindow(w_);
  const qint64 ms = clock.elapsed();
  // Laying the whole text out would take seconds; a busy machine takes tens of ms.
  EXPECT_LT(ms, 1000) << "setting and painting 10 MB took " << ms << " ms";
  EXPECT_EQ(t->Text(), bigger) << "the text must be kept whole";
  EXPECT_LT(ft::ShownText(t).size(), 4000u) << "far more than one line was laid out";
  EXPECT_GT(img.width, 0);
}

struct RawText {
  const char* fault;
  String bytes;
};

class StaticTextBytes : public ControlsTest, public ::testing::WithParamInterface<RawText> {};

TEST_P(StaticTextBytes, ControlCharactersAreShownAsSymbolsAndKeptExactly) {
  auto t = Add<StaticText>("t", {{"Left", 0}, {"Top", 0}, {"Width", 390}, {"Height", 20}});
  t->Text(GetParam().bytes);
  EXPECT_EQ(t->Text(), GetParam().bytes);
  const String shown = ft::ShownText(t);
  EXPECT_FALSE(shown.empty());
  for (unsigned char c : shown) EXPECT_GE(c, 0x20) << GetParam().fault << ": a control byte reaches the screen";
  EXPECT_EQ(shown.find('\x7f'), String::npos);
}

INSTANTIATE_TEST_SUITE_P(Raw, StaticTextBytes,
                         ::testing::Values(RawText{"carriage return", "a\rb"}, RawText{"bell", "\x07"},
                                           RawText{"escape sequence", "\x1b[2J\x1b]0;title\x07"},
                                           RawText{"delete", "x\x7fy"}, RawText{"nul", String("a\0b", 3)},
                                           RawText{"high bytes", "\x85\xff\xc3("}),
                         [](const auto& info) {
                           String n = info.param.fault;
                           for (char& c : n)
                             if (c == ' ') c = '_';
                           return n;
                         });

TEST_F(ControlsTest, FontNamesAndSizesMapToTheDesktopAndMonospacedFonts) {
  const QString fixed = QFontInfo(QFontDatabase::systemFont(QFontDatabase::FixedFont)).family();
  const QString system = QFontInfo(QGuiApplication::font()).family();
  struct Row {
    const char* font;
    Int32 size;
    QString family;
    int points;
  } rows[] = {{"Courier", 10, fixed, 10}, {"System", 0, system, QFontInfo(QGuiApplication::font()).pointSize()},
              {"System", 9, system, 9}, {"Courier", 0, fixed, QFontInfo(QFontDatabase::systemFont(QFontDatabase::FixedFont)).pointSize()}};
  for (const Row& r : rows) {
    auto t = Add<StaticText>("t", {{"TextFont", r.font}, {"TextSize", r.size}});
    auto l = Add<Listbox>("l", {{"TextFont", r.font}, {"TextSize", r.size}});
    EXPECT_EQ(ft::FontFamily(t), r.family.toStdString()) << r.font;
    EXPECT_EQ(ft::FontPointSize(t), r.points) << r.font << " " << r.size;
    EXPECT_EQ(ft::FontFamily(l), r.family.toStdString()) << r.font;
    EXPECT_EQ(ft::FontPointSize(l), r.points) << r.font << " " << r.size;
  }
}

TEST_F(ControlsTest, EvenRowsFilledByThePaintHandlerShowOnScreen) {
  auto list = Add<Listbox>("fileList", {{"Left", 0}, {"Top", 0}, {"Width", 200}, {"Height", 250}, {"Border", false}});
  std::vector<Int32> painted;
  list->CellBackgroundPaint.Install(std::make_shared<Delegate<bool(Ref<Graphics>, Int32, Int32)>>(
      [&](Ref<Graphics> g, Int32 row, Int32) {
        painted.push_back(row);
        if (row % 2 == 0) {
          g->ForeColor(RGB(0, 128, 255));
          g->FillRect(0, 0, g->Width(), g->Height());
        }
        return false;
      },
      "Test.Stripe"));
  for (int i = 0; i < 5; ++i) list->AddRow("row " + std::to_string(i));
  ASSERT_TRUE(ft::RunEventLoopUntil([&] { return list->ListCount() == 5; }, 1000));
  ft::RunEventLoopFor(10);  // the rebuild lands

  const ft::Image img = ft::RenderWindow(w_);
  std::vector<bool> bands;  // down the right edge, where no text is
  for (int y = 0; y < 250; ++y) {
    const bool blue = img.Pixel(190, y) == RGB(0, 128, 255);
    if (bands.empty() || bands.back() != blue) bands.push_back(blue);
  }
  EXPECT_EQ(bands, (std::vector<bool>{true, false, true, false, true, false}))
      << "rows 0, 2 and 4 must be filled, 1 and 3 left alone, nothing below the last row";
  EXPECT_EQ(*std::min_element(painted.begin(), painted.end()), 0) << "rows are counted from 0";
}

TEST_F(ControlsTest, HundredThousandRowsFillAndRenderWithoutAPause) {
  auto list = Add<Listbox>("fileList", {{"Left", 0}, {"Top", 0}, {"Width", 300}, {"Height", 250}});
  auto* view = static_cast<QListView*>(list->backing().widget.data());
  int resets = 0;
  QObject::connect(view->model(), &QAbstractItemModel::modelReset, [&] { ++resets; });
  QElapsedTimer clock;
  clock.start();
  list->DeleteAllRows();
  for (int i = 0; i < 100000; ++i) list->AddRow("20240101120000" + std::to_string(i));
  EXPECT_EQ(list->ListCount(), 100000) << "the count must answer before the repaint";
  EXPECT_EQ(list->List(99999), "2024010112000099999");
  ASSERT_TRUE(ft::RunEventLoopUntil([&] { return resets > 0; }, 2000));
  ft::RenderWindow(w_);
  const qint64 ms = clock.elapsed();
  EXPECT_LT(ms, 2000) << "filling and drawing 100,000 rows took " << ms << " ms";
  EXPECT_EQ(resets, 1) << "a rebuild must reset the view once, not per row";
  EXPECT_EQ(view->model()->rowCount(), 100000);

  list->DeleteAllRows();
  list->AddRow("only");
  ASSERT_TRUE(ft::RunEventLoopUntil([&] { return resets == 2; }, 2000));
  EXPECT_EQ(view->model()->rowCount(), 1);
}

// Rows are kept packed or as references to bytes a folder cache hands out;
// either way a row reads back exactly, after its owner's other references
// are gone and after the list was rebuilt over reused storage.
TEST_F(ControlsTest, RowsReadBackExactlyFromSharedBytesAndFromTheirOwnStorage) {
  auto list = Add<Listbox>("fileList", {{"Left", 0}, {"Top", 0}, {"Width", 300}, {"Height", 250}});
  const struct {
    String text;
    bool shared;
  } rows[] = {{"", false},
              {"00001 01/02 09:01 2001 101 0000007919 00:01:07 ..... 0.01", false},
              {"00002 shared with the cache", true},
              {String("cr\r nul") + '\0' + "\xff end", false},
              {String(300 * 1024, 'b'), false},  // longer than a chunk
              {String(300 * 1024, 's'), true},
              {"00003 shared again", true}};
  for (int pass = 0; pass < 2; ++pass) {
    list->DeleteAllRows();
    std::vector<String> expected;
    for (int round = 0; round < 400; ++round) {  // enough rows to fill several chunks
      for (const auto& r : rows) {
        String text = r.text + (r.text.size() < 100 ? " " + std::to_string(pass) + "/" + std::to_string(round) : "");
        expected.push_back(text);
        if (r.shared) {
          auto bytes = std::make_shared<const String>(text);
          list->AddRow(TextLine(bytes, *bytes));
        } else if (round % 2) {
          list->AddRow(text);
        } else {
          list->AddRow(String(text));
        }
      }
    }
    // Freed bytes are soon reused: fill them with something else.
    std::vector<String> clobber(2000, String(64, 'Z'));
    ASSERT_EQ(list->ListCount(), static_cast<Int32>(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i)
      ASSERT_EQ(list->List(static_cast<Int32>(i)), expected[i]) << "pass " << pass << ", row " << i;
    ft::RenderWindow(w_);
  }
}

long ResidentKb() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// The buffer line shows a flood, then a short text: the flood's storage goes.
TEST_F(ControlsTest, ShortTextAfterAHugeOneLetsItsStorageGo) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer keeps freed memory in quarantine: resident memory cannot tell";
#endif
  auto t = Add<StaticText>("bufferview", {{"Left", 10}, {"Top", 10}, {"Width", 300}, {"Height", 20}});
  constexpr long kMiB = 64;
  t->Text(String(kMiB * 1024 * 1024, 'x'));
  const long with = ResidentKb();
  t->Text("Idle");
  const long after = ResidentKb();
  EXPECT_EQ(t->Text(), "Idle");
  EXPECT_LT(after, with - kMiB * 1024 * 3 / 4) << "resident " << with << " kB with the text, " << after << " kB after";
}

// A line that never ends is stored as call files of 16 MiB, each one first
// line: listed as the main window lists them, such rows must not keep those
// lines in memory, yet each row's text, and each stream read past its first
// line, is still the whole file.
TEST_F(ControlsTest, ListOfHugeFirstLinesHoldsNoneOfThemYetEachRowReadsBackWhole) {
  auto list = Add<Listbox>("fileList", {{"Left", 0}, {"Top", 0}, {"Width", 300}, {"Height", 250}});
  tptest::TempDir tmp;
  constexpr std::size_t kHuge = 8u << 20, kHeld = 64 * 1024;
  struct File {
    std::size_t firstLine;
    String end, rest;
  } files[] = {{kHuge, "", ""},          {kHuge, "\n", "second\n"},      {kHuge, "\r\n", "second"},
               {kHuge, "\r", "\rthird"},  {kHeld, "\r\n", "x"},           {kHeld + 1, "\r\n", "x"}};
  std::vector<String> lines, contents;
  std::filesystem::create_directory(tmp / "warm");
  std::filesystem::create_directory(tmp / "calls");
  for (std::size_t i = 0; i < std::size(files); ++i) {
    String line(files[i].firstLine - 1, static_cast<char>('a' + i));
    line += 'Z';  // a row cut short would lose it
    lines.push_back(line);
    contents.push_back(line + files[i].end + files[i].rest);
    ASSERT_TRUE(tptest::WriteFile(tmp / ("calls/2024030509000" + std::to_string(i) + ".txt"), contents.back()));
  }
  auto listAndShow = [&](const Ref<FolderItem>& folder) {
    list->DeleteAllRows();
    for (Int32 i = 1; i <= folder->Count(); ++i) {
      auto in = folder->Item(i)->OpenAsTextFile();
      ASSERT_FALSE(in.IsNil());
      list->AddRow(in->ReadLine());
      in->Close();
    }
    ft::RunEventLoopFor(10);  // the rebuild lands
    ft::RenderWindow(w_);
  };
  // What a first listing and drawing cost anyway is not the rows' memory.
  ASSERT_TRUE(tptest::WriteFile(tmp / "warm/a.txt", "short\nline"));
  listAndShow(FolderItem::FromPath(tmp / "warm"));
  const long before = ResidentKb();
  auto folder = FolderItem::FromPath(tmp / "calls");
  listAndShow(folder);
  const long grew = ResidentKb() - before;
  // Held, the four huge lines would be 32 MiB; the sanitizers' own cost is some 8 MiB.
  EXPECT_LT(grew, static_cast<long>(2 * kHuge / 1024)) << "listing " << std::size(files) << " files took " << grew << " kB";

  ASSERT_EQ(list->ListCount(), static_cast<Int32>(std::size(files)));
  for (std::size_t i = 0; i < std::size(files); ++i) {
    EXPECT_TRUE(list->List(static_cast<Int32>(i)) == lines[i]) << "row " << i;
    auto item = folder->Item(static_cast<Int32>(i + 1));
    auto in = item->OpenAsTextFile();
    String read = in->ReadLine();
    while (!in->EndOfFile()) read += "|" + String(in->ReadLine());
    EXPECT_TRUE(read == lines[i] + (i == 1 || i == 2 ? "|second" : i == 3 ? "||third" : i >= 4 ? "|x" : ""))
        << "file " << i;
    in->Close();
    EXPECT_TRUE(item->OpenAsTextFile()->ReadAll() == contents[i]) << "file " << i;
  }
}

TEST_F(ControlsTest, PopupRaisesChangeOnlyForTheUsersChoice) {
  auto p = Add<PopupMenu>("PopupMenu2", {{"ListIndex", 0}, {"TabStop", true}});
  int changes = 0;
  p->Change.Install(std::make_shared<Delegate<void()>>([&] { ++changes; }, "Test.Change"));
  EXPECT_EQ(p->ListIndex(), -1) << "an index beyond the rows selects none";
  for (const char* r : {"300", "600", "1200"}) p->AddRow(r);
  EXPECT_EQ(p->ListIndex(), -1) << "adding rows must not select one";
  EXPECT_EQ(p->Text(), "");

  struct Row {
    Int32 set, index;
    const char* text;
  } rows[] = {{2, 2, "1200"}, {0, 0, "300"}, {3, -1, ""}, {-1, -1, ""}, {1, 1, "600"}};
  for (const Row& r : rows) {
    p->ListIndex(r.set);
    EXPECT_EQ(p->ListIndex(), r.index) << r.set;
    EXPECT_EQ(p->Text(), r.text) << r.set;
  }
  ft::RunEventLoopFor(5);
  EXPECT_EQ(changes, 0) << "ListIndex set from code raised Change";

  ft::ChooseRow(p, 0);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(p->Text(), "300");
  ft::ChooseRow(p, 0);  // the same row, chosen deliberately
  EXPECT_EQ(changes, 2);
}

TEST_F(ControlsTest, ProgressWheelAnimatesOnlyWhileShown) {
  auto wheel = Add<ProgressWheel>("serialOpen", {{"Left", 370}, {"Top", 6}, {"Width", 16}, {"Height", 16}, {"Visible", false}});
  ft::RunEventLoopFor(5);
  EXPECT_FALSE(gui::WheelSpinning(*wheel));
  wheel->Visible(true);
  EXPECT_TRUE(ft::RunEventLoopUntil([&] { return gui::WheelSpinning(*wheel); }, 1000));
  w_->Hide();
  EXPECT_FALSE(gui::WheelSpinning(*wheel)) << "a wheel in a hidden window still works";
  w_->Show();
  wheel->Visible(false);
  EXPECT_FALSE(gui::WheelSpinning(*wheel));
}

TEST_F(ControlsTest, TextReportsWhereItWasClickedAndOtherwiseLetsClicksThrough) {
  auto below = Add<StaticText>("callStatus", {{"Left", 29}, {"Top", 6}, {"Width", 359}, {"Height", 20}});
  auto above = Add<StaticText>("portStatus", {{"Left", 206}, {"Top", 6}, {"Width", 359}, {"Height", 20}});
  std::vector<std::pair<Int32, Int32>> clicks;
  _InstallInstanceEventHandler(below, "MouseDown",
                               std::make_shared<Delegate<bool(Int32, Int32)>>(
                                   [&](Int32 x, Int32 y) {
                                     clicks.emplace_back(x, y);
                                     return false;
                                   },
                                   "Test.MouseDown"));
  ft::Click(below, 12, 7);
  ASSERT_EQ(clicks.size(), 1u);
  EXPECT_EQ(clicks[0], std::make_pair(12, 7));
  // Where they overlap, the text without a handler must not swallow the click.
  EXPECT_TRUE(above->backing().widget->testAttribute(Qt::WA_TransparentForMouseEvents));
  EXPECT_FALSE(below->backing().widget->testAttribute(Qt::WA_TransparentForMouseEvents));
  EXPECT_EQ(w_->backing().content->childAt(250, 10), below->backing().widget.data());
}

TEST_F(ControlsTest, TriangleFlipsOnEachClickButNotWhenSetFromCode) {
  auto tri = Add<DisclosureTriangle>("tri", {{"Left", 11}, {"Top", 6}, {"Width", 18}, {"Height", 18}, {"Value", false}});
  int actions = 0;
  tri->Action.Install(std::make_shared<Delegate<void()>>([&] { ++actions; }, "Test.Action"));
  tri->Value(true);
  EXPECT_EQ(actions, 0);
  ft::Click(tri, 9, 9);
  EXPECT_FALSE(tri->Value());
  ft::Click(tri, 9, 9);
  EXPECT_TRUE(tri->Value());
  EXPECT_EQ(actions, 2);
}

}  // namespace
