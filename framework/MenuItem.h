#pragma once
#include <optional>

#include "framework/Runtime.h"

namespace fw {

// A menu item; a menu bar is an item whose children are the menus, whose
// children are the items. A Text of "-" is a separator; "&" marks a
// mnemonic. Shortcut texts such as "Cmd+Q" mean the Control key here.
class MenuItem : public Object {
 public:
  MenuItem();
  String Name() const;
  void Name(const String& n);
  bool AutoEnable() const;
  void AutoEnable(bool a);
  String Text() const;
  void Text(const String& t);
  // Distinguishes "set to the empty string" from "never set".
  std::optional<String> KeyboardShortcut() const;
  void KeyboardShortcut(const String& k);
  bool Enabled() const;
  void Enabled(bool e);

  void Append(Ref<MenuItem> child);
  Ref<MenuItem> Child(const String& name) const;  // direct child of that Name, nil when none
  Int32 Count() const;
  Ref<MenuItem> Item(Int32 index) const;  // zero-based
  Ref<MenuItem> _Lookup(const String& name) const;  // this item or any below it
  Ref<MenuItem> Parent() const;

  // What choosing the item does: its own Action handler if any, else the
  // application's handler for its Name. Returns whether one handled it.
  virtual bool Choose();

  Event<bool()> Action{this, "Action"};

  // Bumped on every change, so the windows showing it can rebuild.
  std::uint64_t Generation() const;

 private:
  void Touch();
  String name_, text_;
  std::optional<String> shortcut_;
  bool autoEnable_ = true, enabled_ = true;
  std::vector<Ref<MenuItem>> children_;
  std::weak_ptr<Object> parent_;
  std::uint64_t generation_ = 0;
};

class MenuBar : public MenuItem {};
class AppleMenuItem : public MenuItem {};
// The framework's quit item: choosing it runs the quit action.
class QuitMenuItem : public MenuItem {
 public:
  bool Choose() override;
};

// "Cmd+Q" -> "Ctrl+Q", the key text this platform uses; "" stays "".
String PlatformShortcut(const String& shortcut);

}  // namespace fw
