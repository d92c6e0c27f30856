#pragma once
#include "framework/Graphics.h"
#include "framework/RectControl.h"
#include "framework/TextLine.h"

namespace fw {

// A list of rows in one column. A rebuild from DeleteAllRows and AddRow
// repaints once, when control returns to the event loop; 100,000 rows fill
// and scroll without a visible pause.
class Listbox : public RectControl {
 public:
  Listbox();
  void AddRow(const String& text);
  void AddRow(String&& text);  // takes a row built for the list without copying it
  // A line that shares a folder cache's bytes is shown from them, uncopied;
  // a partial line (TextLine.h) keeps only its start, and List reads it whole.
  void AddRow(const TextLine& line);
  void AddRow(TextLine&& line);
  void DeleteAllRows();
  Int32 ListCount() const;
  String List(Int32 row) const;  // zero-based
  Int32 ListIndex() const;
  void ListIndex(Int32 row);
  String TextFont() const;
  void TextFont(const String& f);
  Int32 TextSize() const;
  void TextSize(Int32 s);

  // Paints a cell's background before its text; rows count from 0.
  Event<bool(Ref<Graphics>, Int32, Int32)> CellBackgroundPaint{this, "CellBackgroundPaint"};

 protected:
  void CreateWidget() override;
};

}  // namespace fw
