#pragma once
// Windows built from tables: each control is allocated, constructed, added
// under its name, given its property block and wired, all before the next.
#include <functional>

#include "framework/PropertyBlock.h"
#include "framework/Window.h"

namespace ui {

// An event of a control and the window operation that handles it.
template <class W>
struct Wiring {
  const char* event;
  std::function<std::shared_ptr<fw::DelegateBase>(W*)> handler;
};

template <class W, class R, class... A>
Wiring<W> On(const char* event, R (W::*op)(A...), const char* operation) {
  return {event, [op, operation](W* w) -> std::shared_ptr<fw::DelegateBase> {
            return fw::NewDelegate(w, op, operation);
          }};
}

// The control of that name on w, cast to its framework class.
template <class T>
fw::Ref<T> ControlNamed(fw::Window& w, const char* name) {
  return fw::RuntimeCheckCast<T>(fw::RuntimeWindowControlByName(fw::RefTo<fw::Window>(&w), name));
}

// Control is the class allocated, Framework the class it is looked up as.
template <class Control, class Framework, class W>
void BuildControl(W& window, const char* name, const fw::PropList& props, const std::vector<Wiring<W>>& events) {
  fw::Ref<Control> control = window.template __New<Control>();
  control->Constructor();
  window._AddControl(name, control);
  fw::_SetProperties(ControlNamed<Framework>(window, name), fw::EncodePropertyBlock(props));
  for (const Wiring<W>& e : events)
    fw::_InstallInstanceEventHandler(ControlNamed<Framework>(window, name), e.event, e.handler(&window));
}

template <class W>
struct ControlRow {
  const char* name;
  void (*build)(W&, const char*, const fw::PropList&, const std::vector<Wiring<W>>&);
  fw::PropList props;
  std::vector<Wiring<W>> events;
};

template <class W>
void BuildControls(W& window, const std::vector<ControlRow<W>>& rows) {
  for (const ControlRow<W>& row : rows) row.build(window, row.name, row.props, row.events);
}

}  // namespace ui
