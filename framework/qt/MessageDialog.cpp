#include "framework/MessageDialog.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include "framework/Seams.h"
#include "framework/qt/GuiBacking.h"

namespace fw {
namespace {

Ref<MessageDialogButton> MakeButton(const String& caption, bool visible, bool isDefault) {
  auto b = std::make_shared<MessageDialogButton>();
  if (const ClassRecord* rec = FindClass(std::type_index(typeid(MessageDialogButton)))) AttachRecord(*b, rec);
  b->Caption(caption);
  b->Visible(visible);
  b->Default(isDefault);
  return Ref<MessageDialogButton>(b);
}

void RequireApplication() {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
    throw RuntimeException("dialogs need the runtime to be initialised first");
}

QMessageBox::Icon ToIcon(Int32 code) {
  switch (code) {
    case 0: return QMessageBox::Information;
    case 1: return QMessageBox::Warning;
    case 2: return QMessageBox::Critical;
    case 3: return QMessageBox::Question;
    default: return QMessageBox::NoIcon;
  }
}

// Texts are raw bytes from the program and must never be taken as markup.
void PlainLabels(QMessageBox& box) {
  for (QLabel* l : box.findChildren<QLabel*>()) l->setTextFormat(Qt::PlainText);
}

}  // namespace

MessageDialog::MessageDialog()
    : action_(MakeButton("OK", true, true)),
      cancel_(MakeButton("Cancel", false, false)),
      alternate_(MakeButton("Don't Save", false, false)) {}

void MessageDialog::Icon(Int32 i) { icon_ = i; }
void MessageDialog::Title(const String& t) { title_ = t; }
void MessageDialog::Message(const String& m) { message_ = m; }
void MessageDialog::Explanation(const String& e) { explanation_ = e; }

Ref<MessageDialogButton> MessageDialog::ShowModal() {
  ModalRequest req{"MessageDialog", message_, explanation_, {}};
  for (const auto& b : {action_, cancel_, alternate_})
    if (b->Visible()) req.captions.push_back(b->Caption());
  if (auto answer = seams::AnswerWithoutShowing(req)) {
    switch (*answer) {
      case ModalAnswer::Action: return action_;
      case ModalAnswer::Cancel: return cancel_;
      case ModalAnswer::Alternate: return alternate_;
    }
  }

  RequireApplication();
  QMessageBox box;
  box.setIcon(ToIcon(icon_));
  box.setWindowTitle(title_.empty() ? QCoreApplication::applicationName() : gui::FromBytes(title_));
  box.setTextFormat(Qt::PlainText);
  box.setText(gui::FromBytes(message_));
  if (!explanation_.empty()) box.setInformativeText(gui::FromBytes(explanation_));
  PlainLabels(box);
  std::vector<std::pair<QPushButton*, Ref<MessageDialogButton>>> shown;
  auto add = [&](const Ref<MessageDialogButton>& b, QMessageBox::ButtonRole role) -> QPushButton* {
    if (!b->Visible()) return nullptr;
    QPushButton* q = box.addButton(gui::FromBytes(b->Caption()), role);
    shown.emplace_back(q, b);
    if (b->Default()) box.setDefaultButton(q);
    return q;
  };
  add(action_, QMessageBox::AcceptRole);
  add(alternate_, QMessageBox::DestructiveRole);
  if (QPushButton* c = add(cancel_, QMessageBox::RejectRole)) box.setEscapeButton(c);
  box.exec();
  QAbstractButton* clicked = box.clickedButton();
  if (!clicked) return cancel_;
  for (auto& [q, b] : shown)
    if (q == clicked) return b;
  return action_;  // the OK button Qt adds when none was visible
}

void MsgBox(const String& text) {
  ModalRequest req{"MsgBox", text, String(), {"OK"}};
  if (seams::AnswerWithoutShowing(req)) return;
  RequireApplication();
  QMessageBox box;
  box.setIcon(QMessageBox::NoIcon);
  box.setWindowTitle(QCoreApplication::applicationName());
  box.setTextFormat(Qt::PlainText);
  box.setText(gui::FromBytes(text));
  PlainLabels(box);
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
}

}  // namespace fw
