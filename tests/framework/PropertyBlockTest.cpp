#include <gtest/gtest.h>

#include <climits>

#include "framework/DisclosureTriangle.h"
#include "framework/Listbox.h"
#include "framework/PopupMenu.h"
#include "framework/ProgressWheel.h"
#include "framework/PropertyBlock.h"
#include "framework/StaticText.h"
#include "framework/Window.h"

using namespace fw;

namespace {

const Int32 kNoIndex = INT32_MIN;

template <class T>
Ref<T> Control(const Ref<Window>& w, const char* name) {
  Ref<T> c = w->__New<T>();
  c->Constructor();
  w->_AddControl(name, c);
  return c;
}

String Int32Bytes(std::uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

TEST(PropertyBlock, EncodesEachTypeAtItsFixedWidth) {
  const String block = EncodePropertyBlock({{"Width", 603},
                                            {"Index", kNoIndex},
                                            {"Visible", true},
                                            {"Composite", false},
                                            {"BackColor", RGB(255, 128, 1)},
                                            {"Title", "Tally\xE2\x80\xA6"},
                                            {"HelpTag", ""}});
  const String expected = "Width " + Int32Bytes(603) + "Index " + Int32Bytes(0x80000000u) + "Visible " +
                          String(1, '\1') + "Composite " + String(1, '\0') + "BackColor \xFF\x80\x01" +
                          "Title " + Int32Bytes(8) + "Tally\xE2\x80\xA6" + "HelpTag " + Int32Bytes(0);
  EXPECT_EQ(block, expected);
}

TEST(PropertyBlock, ConcatenationKeepsCommonPropertiesFirst) {
  PropList all = PropList{{"Left", 1}, {"Top", 2}} + PropList{{"Text", "x"}};
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].name, "Left");
  EXPECT_EQ(all[2].name, "Text");
}

TEST(PropertyBlock, AppliesEveryValueInBlockOrder) {
  auto w = New<Window>();
  auto t = Control<StaticText>(w, "label");
  _SetProperties(w, EncodePropertyBlock({{"Title", "Main"}, {"Width", 400}, {"Height", 90}, {"Height", 30}}));
  EXPECT_EQ(w->Title(), "Main");
  EXPECT_EQ(w->Width(), 400);
  EXPECT_EQ(w->Height(), 30) << "the later of two values must win";

  const String raw("a\0b\r\xff", 5);
  _SetProperties(t, EncodePropertyBlock({{"Left", -5},
                                         {"Top", 7},
                                         {"Text", raw},
                                         {"TextAlign", 2},
                                         {"TextColor", RGB(1, 2, 3)},
                                         {"Visible", false}}));
  EXPECT_EQ(t->Left(), -5);
  EXPECT_EQ(t->Top(), 7);
  EXPECT_EQ(t->Text(), raw);
  EXPECT_EQ(t->TextAlign(), 2);
  EXPECT_EQ(t->TextColor(), RGB(1, 2, 3));
  EXPECT_FALSE(t->Visible());
}

// The two windows' whole layouts must go through: a property the framework
// lacks would stop the program from building its windows at all.
TEST(PropertyBlock, EveryLayoutPropertyOfBothWindowsIsAccepted) {
  auto w = New<Window>();
  const PropList window = {{"Placement", 0},       {"Width", 603},          {"Height", 403},
                           {"MinWidth", 64},       {"MinHeight", 64},       {"MaxWidth", 32000},
                           {"MaxHeight", 32000},   {"Frame", 0},            {"Composite", false},
                           {"HasBackColor", false}, {"BackColor", RGB(255, 255, 255)}, {"Title", "TallyPoint"},
                           {"Visible", false},     {"FullScreen", false},   {"MenuBarVisible", true},
                           {"CloseButton", false}, {"Resizeable", false},   {"LiveResize", false},
                           {"MaximizeButton", false}, {"MinimizeButton", true}, {"MacProcID", 0}};
  EXPECT_NO_THROW(_SetProperties(w, EncodePropertyBlock(window)));
  EXPECT_FALSE(w->CloseButton());
  EXPECT_FALSE(w->Resizeable());
  EXPECT_TRUE(w->MinimizeButton());

  const PropList common = {{"Index", kNoIndex}, {"TabPanelIndex", 0}, {"InitialParent", ""},
                           {"HelpTag", ""},     {"AutoDeactivate", true}, {"Enabled", true}};
  const PropList position = {{"Left", 11}, {"Top", 36}, {"Width", 577}, {"Height", 334}, {"LockLeft", false},
                             {"LockTop", false}, {"LockRight", true}, {"LockBottom", false}, {"TabIndex", 2}};
  const PropList text = {{"Text", "Starting up;"}, {"TextAlign", 0}, {"TextColor", RGB(0, 0, 0)},
                         {"Multiline", false}, {"TextFont", "System"}, {"TextSize", 0}, {"Bold", false},
                         {"Italic", false}, {"Underline", false}, {"DataSource", ""}, {"DataField", ""},
                         {"Visible", true}};
  const PropList list = {{"TabStop", true}, {"Border", true}, {"ColumnCount", 1}, {"ColumnWidths", ""},
                         {"HasHeading", false}, {"UseFocusRing", true}, {"InitialValue", ""},
                         {"HeadingIndex", -1}, {"ScrollbarHorizontal", false}, {"ScrollBarVertical", true},
                         {"AutoHideScrollbars", true}, {"GridLinesHorizontal", 0}, {"GridLinesVertical", 0},
                         {"DefaultRowHeight", -1}, {"_ScrollWidth", -1}, {"_ScrollOffset", 0},
                         {"TextFont", "Courier"}, {"TextSize", 0}, {"Bold", false}, {"Italic", false},
                         {"Underline", false}, {"Hierarchical", false}, {"EnableDrag", false},
                         {"EnableDragReorder", false}, {"RequiresSelection", false}, {"SelectionType", 0},
                         {"ColumnsResizable", false}, {"DataSource", ""}, {"DataField", ""}, {"Visible", true}};
  const PropList popup = {{"Name", "PopupMenu2"}, {"TabStop", true}, {"InitialValue", ""}, {"ListIndex", 0},
                          {"Visible", true}, {"TextFont", "System"}, {"TextSize", 0}, {"Bold", false},
                          {"Italic", false}, {"Underline", false}, {"DataSource", ""}, {"DataField", ""}};
  const PropList triangle = {{"TabStop", true}, {"Value", false}, {"Facing", 0}, {"AcceptFocus", false}};
  const PropList wheel = {{"Visible", false}, {"TabStop", true}};

  auto fileList = Control<Listbox>(w, "fileList");
  EXPECT_NO_THROW(_SetProperties(fileList, EncodePropertyBlock(common + position + list)));
  EXPECT_EQ(fileList->ListCount(), 0);
  EXPECT_EQ(fileList->TextFont(), "Courier");
  EXPECT_TRUE(fileList->LockRight());
  EXPECT_NO_THROW(_SetProperties(Control<StaticText>(w, "callStatus"), EncodePropertyBlock(common + position + text)));
  EXPECT_NO_THROW(_SetProperties(Control<PopupMenu>(w, "PopupMenu2"), EncodePropertyBlock(common + position + popup)));
  EXPECT_NO_THROW(_SetProperties(Control<DisclosureTriangle>(w, "DisclosureTriangle1"),
                                 EncodePropertyBlock(common + position + triangle)));
  EXPECT_NO_THROW(_SetProperties(Control<ProgressWheel>(w, "serialOpen"), EncodePropertyBlock(common + position + wheel)));
}

struct Malformed {
  const char* fault;
  String tail;  // follows a valid "Text" entry
  const char* names;
  std::size_t offset;
};

// The valid prefix that every malformed block starts with: 14 bytes.
const String kPrefix = "Text " + Int32Bytes(5) + "fresh";

class MalformedBlock : public ::testing::TestWithParam<Malformed> {};

TEST_P(MalformedBlock, IsRejectedNamingPropertyAndOffsetWithNothingApplied) {
  const Malformed& m = GetParam();
  auto w = New<Window>();
  auto t = Control<StaticText>(w, "label");
  t->Text("before");
  t->TextAlign(1);
  try {
    _SetProperties(t, kPrefix + m.tail);
    FAIL() << m.fault << ": accepted";
  } catch (const RuntimeException& e) {
    const String what = e.what();
    EXPECT_NE(what.find(m.names), String::npos) << what;
    EXPECT_NE(what.find("offset " + std::to_string(m.offset)), String::npos) << what;
  }
  EXPECT_EQ(t->Text(), "before") << m.fault << ": part of a rejected block was applied";
  EXPECT_EQ(t->TextAlign(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, MalformedBlock,
    ::testing::Values(
        Malformed{"unknown property", "Colour " + Int32Bytes(1), "Colour", 14},
        Malformed{"Boolean given four bytes", "Bold " + Int32Bytes(1) + "TextAlign " + Int32Bytes(0), "Bold", 19},
        Malformed{"Boolean byte out of range", "Bold \x02", "Bold", 19},
        Malformed{"Int32 given one byte", "TextAlign \x01" "Bold \x01", "TextAlign", 24},
        Malformed{"ends inside an Int32", String("TextAlign \x00\x00", 12), "TextAlign", 24},
        Malformed{"ends inside a colour", "TextColor \x01\x02", "TextColor", 24},
        Malformed{"string longer than the block", "Text " + Int32Bytes(100) + "abc", "Text", 19},
        Malformed{"ends inside a name", "TextAl", "TextAl", 14},
        Malformed{"string length near 4 GiB", "Text " + Int32Bytes(0xFFFFFFFFu) + "abc", "Text", 19}),
    [](const auto& info) {
      String n = info.param.fault;
      for (char& c : n)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
      return n;
    });

TEST(PropertyBlock, NilObjectIsReported) {
  EXPECT_THROW(_SetProperties(nullptr, kPrefix), NilObjectException);
}

}  // namespace
