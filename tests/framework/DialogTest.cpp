#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>

#include "framework/MessageDialog.h"
#include "framework/Testing.h"
#include "support/TestEnvironment.h"

using namespace fw;
namespace ft = fw::testing;

namespace {

Ref<MessageDialog> QuitConfirmation() {
  auto d = New<MessageDialog>();
  d->Icon(1);
  d->ActionButton()->Caption("Quit");
  d->CancelButton()->Visible(true);
  d->AlternateActionButton()->Visible(false);
  d->Message("Are you sure you wish to quit?");
  d->Explanation("Any calls made while this program is not running, will not be logged or billed");
  return d;
}

class DialogTest : public ::testing::Test {
 protected:
  void TearDown() override { ft::ClearModalAnswerer(); }
};

TEST_F(DialogTest, EachAnswerReturnsThatButtonObject) {
  std::vector<ft::ModalRequest> seen;
  for (auto [answer, pick] : {std::pair{ft::ModalAnswer::Action, 0}, std::pair{ft::ModalAnswer::Cancel, 1},
                              std::pair{ft::ModalAnswer::Alternate, 2}}) {
    ft::SetModalAnswerer([&, answer = answer](const ft::ModalRequest& r) {
      seen.push_back(r);
      return answer;
    });
    auto d = QuitConfirmation();
    Ref<MessageDialogButton> expected[] = {d->ActionButton(), d->CancelButton(), d->AlternateActionButton()};
    EXPECT_EQ(d->ShowModal(), expected[pick]);
  }
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].kind, "MessageDialog");
  EXPECT_EQ(seen[0].message, "Are you sure you wish to quit?");
  EXPECT_EQ(seen[0].explanation.substr(0, 14), "Any calls made");
  EXPECT_EQ(seen[0].captions, (std::vector<String>{"Quit", "Cancel"})) << "hidden buttons must not be offered";
}

TEST_F(DialogTest, ModalLogRecordsOneLineEachAndAnswersWithTheActionButton) {
  tptest::TempDir dir;
  const String log = dir / "modal.log";
  setenv("TALLYPOINT_MODAL_LOG", log.c_str(), 1);
  MsgBox("Unable to make calls folder on startup disk - See Sys Admin");
  auto d = QuitConfirmation();
  d->Message("two\nlines");
  EXPECT_EQ(d->ShowModal(), d->ActionButton());
  unsetenv("TALLYPOINT_MODAL_LOG");
  EXPECT_EQ(tptest::ReadFile(log),
            "MsgBox\tUnable to make calls folder on startup disk - See Sys Admin\n"
            "MessageDialog\ttwo\\nlines\n");
}

// Drives the real dialog: whatever is modal when the loop comes round.
void WhenModal(std::function<void(QMessageBox*)> act) {
  QTimer::singleShot(0, [act] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      act(box);
    } else {
      WhenModal(act);
    }
  });
}

TEST_F(DialogTest, EscapeOnTheShownDialogCountsAsCancel) {
  auto d = QuitConfirmation();
  QString shownText;
  WhenModal([&](QMessageBox* box) {
    shownText = box->text();
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(box, &esc);
  });
  EXPECT_EQ(d->ShowModal(), d->CancelButton());
  EXPECT_EQ(shownText, "Are you sure you wish to quit?");
}

TEST_F(DialogTest, ClickingACaptionReturnsItsButtonAndTextsStayPlain) {
  auto d = QuitConfirmation();
  d->Message("<b>bold?</b>");
  bool plain = true;
  WhenModal([&](QMessageBox* box) {
    for (QLabel* l : box->findChildren<QLabel*>())
      if (!l->text().isEmpty() && l->textFormat() != Qt::PlainText) plain = false;
    for (QAbstractButton* b : box->buttons())
      if (b->text() == "Quit") b->click();
  });
  EXPECT_EQ(d->ShowModal(), d->ActionButton());
  EXPECT_TRUE(plain) << "a message could be taken as markup";
}

}  // namespace
