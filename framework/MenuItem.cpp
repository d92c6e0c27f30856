#include "framework/MenuItem.h"

#include <algorithm>

#include "framework/Application.h"

namespace fw {

MenuItem::MenuItem() = default;

String MenuItem::Name() const { return name_; }
void MenuItem::Name(const String& n) {
  name_ = n;
  Touch();
}
bool MenuItem::AutoEnable() const { return autoEnable_; }
void MenuItem::AutoEnable(bool a) {
  autoEnable_ = a;
  Touch();
}
String MenuItem::Text() const { return text_; }
void MenuItem::Text(const String& t) {
  text_ = t;
  Touch();
}
std::optional<String> MenuItem::KeyboardShortcut() const { return shortcut_; }
void MenuItem::KeyboardShortcut(const String& k) {
  shortcut_ = k;
  Touch();
}
bool MenuItem::Enabled() const { return enabled_; }
void MenuItem::Enabled(bool e) {
  enabled_ = e;
  Touch();
}

void MenuItem::Append(Ref<MenuItem> child) {
  MenuItem& c = *child;  // nil raises
  for (const MenuItem* p = this; p; p = p->Parent().get())
    if (p == &c) throw RuntimeException("menu item \"" + c.name_ + "\" cannot be appended below itself");
  if (Ref<MenuItem> old = c.Parent()) {
    auto& siblings = old->children_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), child), siblings.end());
    old->Touch();
  }
  c.parent_ = weak_from_this();
  children_.push_back(std::move(child));
  Touch();
}

Ref<MenuItem> MenuItem::Child(const String& name) const {
  for (const auto& c : children_)
    if (c->name_ == name) return c;
  return nullptr;
}

Int32 MenuItem::Count() const { return static_cast<Int32>(children_.size()); }

Ref<MenuItem> MenuItem::Item(Int32 index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return children_[static_cast<std::size_t>(index)];
}

Ref<MenuItem> MenuItem::_Lookup(const String& name) const {
  if (name_ == name) return Ref<MenuItem>(std::const_pointer_cast<MenuItem>(
                         std::dynamic_pointer_cast<const MenuItem>(weak_from_this().lock())));
  for (const auto& c : children_)
    if (Ref<MenuItem> found = c->_Lookup(name)) return found;
  return nullptr;
}

Ref<MenuItem> MenuItem::Parent() const {
  return Ref<MenuItem>(std::dynamic_pointer_cast<MenuItem>(parent_.lock()));
}

bool MenuItem::Choose() {
  if (!enabled_) return false;
  if (Action.HasHandler()) return Action.Raise();
  Ref<Application> app = _GetAppObject();
  return app && app->HandleMenuItem(name_);
}

std::uint64_t MenuItem::Generation() const { return generation_; }

void MenuItem::Touch() {
  // The windows watch the root's generation, so every ancestor moves too.
  for (MenuItem* p = this; p;) {
    ++p->generation_;
    auto parent = std::dynamic_pointer_cast<MenuItem>(p->parent_.lock());
    p = parent.get();
  }
}

bool QuitMenuItem::Choose() {
  if (!Enabled()) return false;
  if (Action.HasHandler() && Action.Raise()) return true;
  Quit();
  return true;
}

String PlatformShortcut(const String& shortcut) {
  // Modifier names as menus write them, and what each means on this platform:
  // the Command key's role is played by Control here.
  static const std::pair<const char*, const char*> kModifiers[] = {
      {"Cmd", "Ctrl"},     {"Command", "Ctrl"}, {"Ctrl", "Meta"}, {"Control", "Meta"},
      {"Option", "Alt"},   {"Opt", "Alt"},      {"Alt", "Alt"},   {"Shift", "Shift"},
  };
  String rest = shortcut;
  String out;
  for (bool found = true; found;) {
    found = false;
    for (const auto& [mac, here] : kModifiers) {
      const String prefix = String(mac) + "+";
      if (rest.size() > prefix.size() && rest.compare(0, prefix.size(), prefix) == 0) {
        out += String(here) + "+";
        rest.erase(0, prefix.size());
        found = true;
        break;
      }
    }
  }
  return out + rest;
}

}  // namespace fw
