#pragma once
#include "framework/RectControl.h"

namespace fw {

// A drop-down list. ListIndex is zero-based, -1 for none; setting it from
// code selects that row (a row that does not exist selects none) and does
// not raise Change: only the user's choice does.
class PopupMenu : public RectControl {
 public:
  PopupMenu();
  void AddRow(const String& text);
  void DeleteAllRows();
  Int32 ListCount() const;
  String List(Int32 row) const;
  Int32 ListIndex() const;
  void ListIndex(Int32 row);
  String Text() const;  // the selected row's text, empty for none

  Event<void()> Change{this, "Change"};

 protected:
  void CreateWidget() override;
};

}  // namespace fw
