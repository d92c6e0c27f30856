// Class records of windows, controls, menus and dialogs, with the properties
// that layouts may set through property blocks.
#include <QWidget>

#include "framework/DisclosureTriangle.h"
#include "framework/Graphics.h"
#include "framework/LineBreak.h"
#include "framework/Listbox.h"
#include "framework/MenuItem.h"
#include "framework/MessageDialog.h"
#include "framework/PopupMenu.h"
#include "framework/ProgressWheel.h"
#include "framework/StaticText.h"
#include "framework/Window.h"
#include "framework/qt/GuiBacking.h"
#include "framework/Registration.h"

namespace fw::detail {
namespace {

using I = PropType;

template <class T>
std::function<void(T&, const PropValue&)> Int(void (T::*f)(Int32)) {
  return [f](T& o, const PropValue& v) { (o.*f)(std::get<Int32>(v)); };
}
template <class T>
std::function<void(T&, const PropValue&)> Bool(void (T::*f)(bool)) {
  return [f](T& o, const PropValue& v) { (o.*f)(std::get<bool>(v)); };
}
template <class T>
std::function<void(T&, const PropValue&)> Str(void (T::*f)(const String&)) {
  return [f](T& o, const PropValue& v) { (o.*f)(std::get<String>(v)); };
}
template <class T>
std::function<void(T&, const PropValue&)> Col(void (T::*f)(Color)) {
  return [f](T& o, const PropValue& v) { (o.*f)(std::get<Color>(v)); };
}

// Properties a layout may set that have no effect on this platform.
template <class T, class Base>
void Inert(ClassBuilder<T, Base>& b, std::initializer_list<std::pair<const char*, PropType>> props) {
  for (const auto& [name, type] : props) b.Property(name, type, [](T&, const PropValue&) {});
}

// A list given as text: one row per line.
template <class T>
void AddRows(T& control, const String& text) {
  std::size_t start = 0;
  while (start < text.size()) {
    const LineBreak end = FindLineBreak(text, start);
    control.AddRow(text.substr(start, (end.found() ? end.at : text.size()) - start));
    start = end.found() ? end.next() : text.size();
  }
}

void RegisterWindow() {
  ClassBuilder<Window, Object> b("Window", "Object");
  b.Property("Title", I::String, Str<Window>(&Window::Title))
      .Property("Width", I::Int32, Int<Window>(&Window::Width))
      .Property("Height", I::Int32, Int<Window>(&Window::Height))
      .Property("MinWidth", I::Int32, [](Window& w, const PropValue& v) {
        w.backing().minWidth = std::get<Int32>(v);
        w.backing().ApplyGeometry();
      })
      .Property("MinHeight", I::Int32, [](Window& w, const PropValue& v) {
        w.backing().minHeight = std::get<Int32>(v);
        w.backing().ApplyGeometry();
      })
      .Property("MaxWidth", I::Int32, [](Window& w, const PropValue& v) {
        w.backing().maxWidth = std::get<Int32>(v);
        w.backing().ApplyGeometry();
      })
      .Property("MaxHeight", I::Int32, [](Window& w, const PropValue& v) {
        w.backing().maxHeight = std::get<Int32>(v);
        w.backing().ApplyGeometry();
      })
      .Property("Visible", I::Boolean, Bool<Window>(&Window::Visible))
      .Property("CloseButton", I::Boolean, [](Window& w, const PropValue& v) {
        w.backing().closeButton = std::get<bool>(v);
        w.backing().ApplyFlags();
      })
      .Property("Resizeable", I::Boolean, [](Window& w, const PropValue& v) {
        w.backing().resizeable = std::get<bool>(v);
        w.backing().ApplyFlags();
        w.backing().ApplyGeometry();
      })
      .Property("MaximizeButton", I::Boolean, [](Window& w, const PropValue& v) {
        w.backing().maximizeButton = std::get<bool>(v);
        w.backing().ApplyFlags();
      })
      .Property("MinimizeButton", I::Boolean, [](Window& w, const PropValue& v) {
        w.backing().minimizeButton = std::get<bool>(v);
        w.backing().ApplyFlags();
      })
      .Property("MenuBarVisible", I::Boolean, [](Window& w, const PropValue& v) {
        w.backing().menuBarVisible = std::get<bool>(v);
        w.backing().ApplyGeometry();
      })
      .Property("HasBackColor", I::Boolean, [](Window& w, const PropValue& v) {
        w.backing().hasBackColor = std::get<bool>(v);
        w.backing().ApplyBackColor();
      })
      .Property("BackColor", I::Color, [](Window& w, const PropValue& v) {
        w.backing().backColor = std::get<Color>(v);
        w.backing().ApplyBackColor();
      });
  Inert(b, {{"Placement", I::Int32},
            {"Frame", I::Int32},
            {"Composite", I::Boolean},
            {"FullScreen", I::Boolean},
            {"LiveResize", I::Boolean},
            {"MacProcID", I::Int32}});
  RegisterClass(b);
}

void RegisterRectControl() {
  ClassBuilder<RectControl, Object> b("RectControl", "Object");
  b.Property("Name", I::String, Str<RectControl>(&RectControl::Name))
      .Property("Left", I::Int32, Int<RectControl>(&RectControl::Left))
      .Property("Top", I::Int32, Int<RectControl>(&RectControl::Top))
      .Property("Width", I::Int32, Int<RectControl>(&RectControl::Width))
      .Property("Height", I::Int32, Int<RectControl>(&RectControl::Height))
      .Property("LockLeft", I::Boolean, Bool<RectControl>(&RectControl::LockLeft))
      .Property("LockTop", I::Boolean, Bool<RectControl>(&RectControl::LockTop))
      .Property("LockRight", I::Boolean, Bool<RectControl>(&RectControl::LockRight))
      .Property("LockBottom", I::Boolean, Bool<RectControl>(&RectControl::LockBottom))
      .Property("TabIndex", I::Int32, Int<RectControl>(&RectControl::TabIndex))
      .Property("TabStop", I::Boolean, Bool<RectControl>(&RectControl::TabStop))
      .Property("Enabled", I::Boolean, Bool<RectControl>(&RectControl::Enabled))
      .Property("Visible", I::Boolean, Bool<RectControl>(&RectControl::Visible))
      .Property("HelpTag", I::String, [](RectControl& c, const PropValue& v) {
        if (c.backing().widget) c.backing().widget->setToolTip(gui::FromBytes(std::get<String>(v)));
      });
  Inert(b, {{"Index", I::Int32},
            {"TabPanelIndex", I::Int32},
            {"InitialParent", I::String},
            {"AutoDeactivate", I::Boolean},
            {"DataSource", I::String},
            {"DataField", I::String},
            {"UseFocusRing", I::Boolean}});
  RegisterClass(b);
}

void RegisterControls() {
  {
    ClassBuilder<StaticText, RectControl> b("StaticText", "RectControl");
    b.Property("Text", I::String, Str<StaticText>(&StaticText::Text))
        .Property("TextAlign", I::Int32, Int<StaticText>(&StaticText::TextAlign))
        .Property("TextFont", I::String, Str<StaticText>(&StaticText::TextFont))
        .Property("TextSize", I::Int32, Int<StaticText>(&StaticText::TextSize))
        .Property("TextColor", I::Color, Col<StaticText>(&StaticText::TextColor))
        .Property("Bold", I::Boolean, Bool<StaticText>(&StaticText::Bold))
        .Property("Italic", I::Boolean, Bool<StaticText>(&StaticText::Italic))
        .Property("Underline", I::Boolean, Bool<StaticText>(&StaticText::Underline))
        .Property("Multiline", I::Boolean, Bool<StaticText>(&StaticText::Multiline));
    RegisterClass(b);
  }
  RegisterClass(ClassBuilder<ProgressWheel, RectControl>("ProgressWheel", "RectControl"));
  {
    ClassBuilder<DisclosureTriangle, RectControl> b("DisclosureTriangle", "RectControl");
    b.Property("Value", I::Boolean, Bool<DisclosureTriangle>(&DisclosureTriangle::Value))
        .Property("Facing", I::Int32, Int<DisclosureTriangle>(&DisclosureTriangle::Facing))
        .Property("AcceptFocus", I::Boolean, Bool<DisclosureTriangle>(&DisclosureTriangle::AcceptFocus));
    RegisterClass(b);
  }
  {
    ClassBuilder<Listbox, RectControl> b("Listbox", "RectControl");
    b.Property("TextFont", I::String, Str<Listbox>(&Listbox::TextFont))
        .Property("TextSize", I::Int32, Int<Listbox>(&Listbox::TextSize))
        .Property("InitialValue", I::String,
                  [](Listbox& l, const PropValue& v) { AddRows(l, std::get<String>(v)); });
    for (const char* styled : {"Bold", "Italic", "Underline", "Border", "ScrollbarHorizontal", "ScrollBarVertical"})
      b.Property(styled, I::Boolean, [n = String(styled)](Listbox& l, const PropValue& v) {
        gui::ListStyle(l, n, v);
      });
    for (const char* styled : {"DefaultRowHeight", "SelectionType"})
      b.Property(styled, I::Int32, [n = String(styled)](Listbox& l, const PropValue& v) {
        gui::ListStyle(l, n, v);
      });
    Inert(b, {{"ColumnCount", I::Int32},
              {"ColumnWidths", I::String},
              {"HasHeading", I::Boolean},
              {"HeadingIndex", I::Int32},
              {"AutoHideScrollbars", I::Boolean},
              {"GridLinesHorizontal", I::Int32},
              {"GridLinesVertical", I::Int32},
              {"_ScrollWidth", I::Int32},
              {"_ScrollOffset", I::Int32},
              {"Hierarchical", I::Boolean},
              {"EnableDrag", I::Boolean},
              {"EnableDragReorder", I::Boolean},
              {"RequiresSelection", I::Boolean},
              {"ColumnsResizable", I::Boolean}});
    RegisterClass(b);
  }
  {
    ClassBuilder<PopupMenu, RectControl> b("PopupMenu", "RectControl");
    b.Property("ListIndex", I::Int32, Int<PopupMenu>(&PopupMenu::ListIndex))
        .Property("InitialValue", I::String,
                  [](PopupMenu& p, const PropValue& v) { AddRows(p, std::get<String>(v)); });
    for (auto [name, type] : {std::pair{"TextFont", I::String}, std::pair{"TextSize", I::Int32},
                              std::pair{"Bold", I::Boolean}, std::pair{"Italic", I::Boolean},
                              std::pair{"Underline", I::Boolean}})
      b.Property(name, type, [n = String(name)](PopupMenu& p, const PropValue& v) {
        gui::PopupStyle(p, n, v);
      });
    RegisterClass(b);
  }
  RegisterClass(ClassBuilder<Graphics, Object>("Graphics", "Object"));
}

void RegisterMenus() {
  auto menuProps = [](auto& b) {
    using T = MenuItem;
    b.Property("Name", I::String, Str<T>(&T::Name))
        .Property("AutoEnable", I::Boolean, Bool<T>(&T::AutoEnable))
        .Property("Text", I::String, Str<T>(&T::Text))
        .Property("KeyboardShortcut", I::String, Str<T>(&T::KeyboardShortcut))
        .Property("Enabled", I::Boolean, Bool<T>(&T::Enabled));
  };
  {
    ClassBuilder<MenuItem, Object> b("MenuItem", "Object");
    menuProps(b);
    RegisterClass(b);
  }
  RegisterClass(ClassBuilder<MenuBar, MenuItem>("MenuBar", "MenuItem"));
  RegisterClass(ClassBuilder<AppleMenuItem, MenuItem>("AppleMenuItem", "MenuItem"));
  RegisterClass(ClassBuilder<QuitMenuItem, MenuItem>("QuitMenuItem", "MenuItem"));
}

void RegisterDialogs() {
  {
    ClassBuilder<MessageDialog, Object> b("MessageDialog", "Object");
    b.Property("Icon", I::Int32, Int<MessageDialog>(&MessageDialog::Icon))
        .Property("Title", I::String, Str<MessageDialog>(&MessageDialog::Title))
        .Property("Message", I::String, Str<MessageDialog>(&MessageDialog::Message))
        .Property("Explanation", I::String, Str<MessageDialog>(&MessageDialog::Explanation));
    RegisterClass(b);
  }
  {
    ClassBuilder<MessageDialogButton, Object> b("MessageDialogButton", "Object");
    b.Property("Caption", I::String, Str<MessageDialogButton>(&MessageDialogButton::Caption))
        .Property("Visible", I::Boolean, Bool<MessageDialogButton>(&MessageDialogButton::Visible))
        .Property("Default", I::Boolean, Bool<MessageDialogButton>(&MessageDialogButton::Default));
    RegisterClass(b);
  }
}

}  // namespace

void RegisterGuiClasses() {
  RegisterWindow();
  RegisterRectControl();
  RegisterControls();
  RegisterMenus();
  RegisterDialogs();
}

}  // namespace fw::detail
