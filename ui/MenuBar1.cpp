#include "ui/MenuBar1.h"

#include <optional>

namespace {

enum class Kind { Item, Apple, Quit };

// One row of a menu: the menu title first, then its items in the order shown.
// A separator has no shortcut at all, which differs from an empty one.
struct MenuRow {
  const char* name;
  Kind kind;
  const char* text;
  std::optional<const char*> shortcut;
};

constexpr std::nullopt_t kNotSet = std::nullopt;

const std::vector<MenuRow> kFileMenu = {
    {"FileMenu", Kind::Item, "&File", ""},
    {"Prefs", Kind::Apple, "Preferences\u2026", "Cmd+,"},
    {"FileQuit", Kind::Quit, "Quit", "Cmd+Q"},
};

const std::vector<MenuRow> kEditMenu = {
    {"EditMenu", Kind::Item, "&Edit", ""},
    {"EditUndo", Kind::Item, "&Undo", "Cmd+Z"},
    {"UntitledMenu1", Kind::Item, "-", kNotSet},
    {"EditCut", Kind::Item, "Cu&t", "Cmd+X"},
    {"EditCopy", Kind::Item, "&Copy", "Cmd+C"},
    {"EditPaste", Kind::Item, "&Paste", "Cmd+V"},
    {"EditClear", Kind::Item, "Clear", ""},
    {"UntitledMenu0", Kind::Item, "-", kNotSet},
    {"EditSelectAll", Kind::Item, "Select &All", "Cmd+A"},
};

fw::Ref<fw::MenuItem> NewItem(const MenuRow& row) {
  fw::Ref<fw::MenuItem> item;
  switch (row.kind) {
    case Kind::Item: item = fw::New<fw::MenuItem>(); break;
    case Kind::Apple: item = fw::New<fw::AppleMenuItem>(); break;
    case Kind::Quit: item = fw::New<fw::QuitMenuItem>(); break;
  }
  item->Name(row.name);
  item->AutoEnable(true);
  item->Text(row.text);
  if (row.shortcut) item->KeyboardShortcut(*row.shortcut);
  return item;
}

// Appends the title to the bar, then each item to the title, found again by
// name for every item.
void BuildMenu(fw::MenuItem& bar, const std::vector<MenuRow>& rows) {
  const MenuRow& title = rows.front();
  bar.Append(NewItem(title));
  for (size_t i = 1; i < rows.size(); ++i) {
    fw::Ref<fw::MenuItem> item = NewItem(rows[i]);
    bar.Child(title.name)->Append(item);
  }
}

// The menu bar every window shows, made on first use as an implicit
// instance is: one for the process, released at module exit.
struct Implicit {
  static fw::Ref<class MenuBar1> instance;
};
fw::Ref<class MenuBar1> Implicit::instance;

}  // namespace

fw::ClassRecord MenuBar1::Record() {
  return fw::ClassBuilder<MenuBar1, fw::MenuBar>("MenuBar1.MenuBar1", "MenuBar")
      .Operations({"Untitled0", "Untitled1"});
}

void MenuBar1::Constructor() {
  Untitled0();
  Untitled1();
}

void MenuBar1::Untitled0() { BuildMenu(*this, kFileMenu); }

void MenuBar1::Untitled1() { BuildMenu(*this, kEditMenu); }

fw::Ref<class MenuBar1> MenuBar1() {
  if (!Implicit::instance) {
    fw::Ref<class MenuBar1> bar = fw::New<class MenuBar1>();
    bar->Constructor();
    Implicit::instance = bar;
    fw::RegisterModuleExit([] { Implicit::instance = nullptr; });
  }
  return Implicit::instance;
}
