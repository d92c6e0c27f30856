#pragma once
#include "framework/RectControl.h"

namespace fw {

// One line of text. Raw bytes are shown safely: control characters do not
// act, and a very long text shows what fits without stalling the window.
// TextAlign 0 left, 1 centre, 2 right. TextFont "System" is the desktop's
// font, "Courier" a monospaced one; TextSize 0 is the default size.
class StaticText : public RectControl {
 public:
  StaticText();
  String Text() const;
  void Text(const String& t);
  Int32 TextAlign() const;
  void TextAlign(Int32 a);
  String TextFont() const;
  void TextFont(const String& f);
  Int32 TextSize() const;
  void TextSize(Int32 s);
  Color TextColor() const;
  void TextColor(Color c);
  bool Bold() const, Italic() const, Underline() const, Multiline() const;
  void Bold(bool), Italic(bool), Underline(bool), Multiline(bool);

  Event<bool(Int32, Int32)> MouseDown{this, "MouseDown"};

 protected:
  void CreateWidget() override;
};

}  // namespace fw
