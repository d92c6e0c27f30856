#pragma once
#include "framework/Runtime.h"

namespace fw {

class MessageDialogButton : public Object {
 public:
  String Caption() const { return caption_; }
  void Caption(const String& c) { caption_ = c; }
  bool Visible() const { return visible_; }
  void Visible(bool v) { visible_ = v; }
  bool Default() const { return default_; }
  void Default(bool d) { default_ = d; }

 private:
  friend class MessageDialog;
  String caption_;
  bool visible_ = false, default_ = false;
};

// A modal dialog with up to three buttons. Defaults: the action button
// "OK", visible and default; the cancel button "Cancel", hidden; the
// alternate button "Don't Save", hidden. Icon 0 note, 1 caution, 2 stop,
// 3 question.
class MessageDialog : public Object {
 public:
  MessageDialog();
  void Icon(Int32 i);
  void Title(const String& t);
  void Message(const String& m);
  void Explanation(const String& e);
  Ref<MessageDialogButton> ActionButton() const { return action_; }
  Ref<MessageDialogButton> CancelButton() const { return cancel_; }
  Ref<MessageDialogButton> AlternateActionButton() const { return alternate_; }
  // Shows the dialog on its own and returns the button chosen. Closing it
  // without a choice counts as the cancel button.
  Ref<MessageDialogButton> ShowModal();

 private:
  Int32 icon_ = 0;
  String title_, message_, explanation_;
  Ref<MessageDialogButton> action_, cancel_, alternate_;
};

// A modal message with one OK button.
void MsgBox(const String& text);

}  // namespace fw
