// The two property dialogs: field checks in their order, the SSL box and the
// flags the caller reads.
#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <stdexcept>
#include <gtest/gtest.h>

#include "dialogs/busywork.h"
#include "dialogs/profileform.h"
#include "dialogs/serverform.h"
#include "dialogs/testseam.h"
#include "store/messages.h"

namespace {

// LogError through message boxes of the test seam, as the program does.
class SeamSink : public TMessageSink {
 public:
  SeamSink() { prev_ = SetMessageSink(this); }
  ~SeamSink() override { SetMessageSink(prev_); }
  void Error(const std::string& t) override {
    UiSeam().MessageBox(nullptr, TUiSeam::bkError, "Error", QString::fromStdString(t));
  }
  void Info(const std::string& t) override {
    UiSeam().MessageBox(nullptr, TUiSeam::bkInformation, "Information", QString::fromStdString(t));
  }
  bool Ask(const std::string& t) override {
    return UiSeam().MessageBox(nullptr, TUiSeam::bkQuestion, "Confirm", QString::fromStdString(t));
  }

 private:
  TMessageSink* prev_;
};

// An entry being edited (Tag set) with every checked field filled.
void FillEdited(TServerForm& f) {
  f.Tag = 7;
  f.ed_name->setText("s");
  f.ed_server->setText("h");
  f.ed_port->setText("389");
}
void FillEdited(TProfileForm& f) {
  f.Tag = 3;
  f.ed_name->setText("p");
  f.ed_base->setText("o=x");
  f.ed_filter->setText("(cn=*)");
}

struct DialogTest : ::testing::Test {
  quorvel::test::TTestSeam seam;
  SeamSink sink;

  // An edit whose `field` was cleared stays open with the same message as a
  // new entry, and is not saved; filled again with `refill`, it saves.
  template <class Form>
  void ExpectEditChecked(QLineEdit* Form::*field, const char* refill, const char* message) {
    SCOPED_TRACE(message);
    Form f;
    FillEdited(f);
    (f.*field)->clear();
    seam.Clear();
    f.btnsave->click();
    EXPECT_EQ(seam.Errors(), QStringList(message));
    EXPECT_FALSE(f.Saved);
    EXPECT_EQ(f.result(), QDialog::Rejected);
    (f.*field)->setText(refill);
    seam.Clear();
    f.btnsave->click();
    EXPECT_TRUE(seam.boxes.empty());
    EXPECT_TRUE(f.Saved);
    EXPECT_EQ(f.result(), QDialog::Accepted);
  }
};

TEST_F(DialogTest, ServerFormDesignAndSecurityProposesItsPort) {
  TServerForm f;
  EXPECT_EQ(f.windowTitle(), "Server Properties: New");
  EXPECT_EQ(f.ed_basedn->text(), "O=Organization");
  EXPECT_EQ(f.ed_pwd->echoMode(), QLineEdit::Password);
  f.ed_pwd->setText("s3c");
  EXPECT_EQ(f.ed_pwd->displayText(), "***");
  EXPECT_TRUE(f.btnsave->isDefault());
  f.ed_port->setText("3269");
  // Each security choice proposes its port and is kept as the catalogue's letter.
  const struct {
    const char* shown;
    const char* port;
    const char* stored;
  } choices[] = {{"SSL/TLS", "636", "Y"},
                 {"StartTLS", "389", "T"},
                 {"SSL/TLS", "636", "Y"},
                 {"None", "389", "N"}};
  for (const auto& c : choices) {
    f.cb_security->setCurrentText(c.shown);
    EXPECT_EQ(f.ed_port->text(), c.port) << c.shown;
    EXPECT_EQ(f.Security(), c.stored) << c.shown;
  }
  f.SetSecurity("T");
  EXPECT_EQ(f.cb_security->currentText(), "StartTLS");
  f.SetSecurity("y");  // not exactly "Y": no SSL, as a connection would treat it
  EXPECT_EQ(f.cb_security->currentText(), "None");

  // Kerberos signs in with the ticket: the DN and password are put aside.
  EXPECT_EQ(f.Auth(), "simple");
  f.cb_auth->setCurrentText("Kerberos (the current ticket)");
  EXPECT_EQ(f.Auth(), "kerberos");
  EXPECT_FALSE(f.ed_uid->isEnabled());
  EXPECT_FALSE(f.ed_pwd->isEnabled());
  f.SetAuth("simple");
  EXPECT_EQ(f.cb_auth->currentText(), "Bind DN and password");
  EXPECT_TRUE(f.ed_uid->isEnabled());
  EXPECT_TRUE(f.ed_pwd->isEnabled());
}

TEST_F(DialogTest, NewServerChecksNameThenHostThenPort) {
  TServerForm f;
  f.Tag = 0;
  f.ed_port->clear();
  const char* expected[] = {
      "\"Name\" cannot be empty, please provide a name fot his server profile.",
      "\"Server\" cannot be empty, please provide a valid server IP address.",
      "\"Port\" cannot be empty, please provide a valid server port number.",
  };
  QLineEdit* fill[] = {f.ed_name, f.ed_server, f.ed_port};
  for (int i = 0; i < 3; ++i) {
    seam.Clear();
    f.btnsave->click();
    ASSERT_EQ(seam.Errors(), QStringList(expected[i])) << i;
    EXPECT_EQ(f.result(), QDialog::Rejected);
    fill[i]->setText(" ");  // blanks count as filled
  }
  seam.Clear();
  f.btnsave->click();
  EXPECT_TRUE(seam.boxes.empty());
  EXPECT_EQ(f.result(), QDialog::Accepted);
  EXPECT_FALSE(f.Saved);
  EXPECT_FALSE(f.Cancelled);
}

TEST_F(DialogTest, EditingChecksLikeNewAndCancelSetsFlag) {
  ExpectEditChecked(&TServerForm::ed_name, "s2",
                    "\"Name\" cannot be empty, please provide a name fot his server profile.");
  ExpectEditChecked(&TServerForm::ed_port, "636",
                    "\"Port\" cannot be empty, please provide a valid server port number.");
  ExpectEditChecked(&TProfileForm::ed_name, "p2",
                    "\"Name\" cannot be empty, please provide a name fot his search profile.");
  ExpectEditChecked(&TProfileForm::ed_filter, "(o=*)",
                    "\"Filter\" cannot be empty, please provide a valid search filter.");
  TServerForm g;
  g.btncancel->click();
  EXPECT_TRUE(g.Cancelled);
  EXPECT_FALSE(g.Saved);
}

TEST_F(DialogTest, ProfileFormChecksInOrder) {
  TProfileForm f;
  EXPECT_EQ(f.windowTitle(), "Profile Properties: New");
  EXPECT_EQ(f.cb_scope->currentText(), "Base Object");
  EXPECT_EQ(f.cb_scope->count(), 3);
  EXPECT_EQ(f.ed_att->toPlainText(), "cn;givenname;sn;email");
  EXPECT_FALSE(f.ed_server->isEnabled());
  f.cb_scope->setEditText("");
  f.ed_att->clear();  // the attribute list is never checked
  const char* expected[] = {
      "\"Name\" cannot be empty, please provide a name fot his search profile.",
      "\"Base DN\" cannot be empty, please provide a valid base object.",
      "\"Scope\" cannot be empty, please provide a valid scope.",
      "\"Filter\" cannot be empty, please provide a valid search filter.",
  };
  std::function<void()> fill[] = {
      [&] { f.ed_name->setText("p"); }, [&] { f.ed_base->setText("o=x"); },
      [&] { f.cb_scope->setEditText("sub containers"); }, [&] { f.ed_filter->setText("(cn=*)"); }};
  for (int i = 0; i < 4; ++i) {
    seam.Clear();
    f.btnsave->click();
    ASSERT_EQ(seam.Errors(), QStringList(expected[i])) << i;
    fill[i]();
  }
  seam.Clear();
  f.btnsave->click();
  EXPECT_TRUE(seam.boxes.empty());
  EXPECT_EQ(f.result(), QDialog::Accepted);
  EXPECT_EQ(f.ed_name->text(), "p");  // typed values kept
}

TEST_F(DialogTest, ScopeKeepsTheTextAsTyped) {
  // The caller converts the scope text exactly; the box must neither change
  // the case of what was typed nor grow the list of names.
  TProfileForm f;
  f.show();
  QLineEdit* edit = f.cb_scope->lineEdit();
  ASSERT_NE(edit, nullptr);
  edit->setFocus();
  edit->clear();
  QTest::keyClicks(edit, "sub containers");
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(f.cb_scope->currentText(), "sub containers");
  EXPECT_EQ(f.cb_scope->count(), 3);
  f.btncancel->click();
}

TEST_F(DialogTest, WorkOffTheWindowThreadMeetsTheUserOnTheWindowThread) {
  // Boxes and questions asked by a worker are carried out by the installed
  // seam on the window thread; the worker gets the answer.
  seam.answers = {false};
  bool onWindowThread = true, answer = true;
  quorvel::RunBusy([&] {
    onWindowThread = quorvel::OnGuiThread();
    answer = Confirm("Go on?");
    LogError("failed");
  });
  EXPECT_FALSE(onWindowThread);
  EXPECT_FALSE(answer);
  EXPECT_EQ(seam.Texts(TUiSeam::bkQuestion), QStringList("Go on?"));
  EXPECT_EQ(seam.Errors(), QStringList("failed"));
  EXPECT_FALSE(quorvel::BusyWorkRunning());
  EXPECT_THROW(quorvel::RunBusy([] { throw std::runtime_error("x"); }), std::runtime_error);
}

}  // namespace

namespace {

// Shows a dialog, waits for it to be active and returns the widgets the focus
// visits: where it starts, then after each Tab until it is back there.
QList<QWidget*> TabRound(QDialog& d) {
  d.show();
  d.activateWindow();
  if (!QTest::qWaitForWindowActive(&d)) return {};
  QList<QWidget*> seen{QApplication::focusWidget()};
  for (int i = 0; i < 30; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    if (QApplication::focusWidget() == seen.first()) break;
    seen.append(QApplication::focusWidget());
  }
  return seen;
}

QStringList Names(const QList<QWidget*>& widgets) {
  QStringList out;
  for (QWidget* w : widgets) out.append(w ? w->objectName() : "(none)");
  return out;
}

}  // namespace

TEST_F(DialogTest, FocusStartsAtTheFirstFieldAndTabFollowsTheLayout) {
  // Enter saves wherever the focus is in a one-line field, Escape cancels.
  {
    TServerForm f;
    EXPECT_EQ(Names(TabRound(f)),
              QStringList({"ed_name", "ed_server", "ed_port", "cb_security", "ed_basedn", "cb_auth",
                           "ed_uid", "ed_pwd", "cb_secret", "cb_referrals", "btnsave", "btncancel", "btntest"}));
    EXPECT_TRUE(f.btnsave->isDefault());
    f.ed_uid->setFocus();
    QTest::keyClick(f.ed_uid, Qt::Key_Return);
    EXPECT_EQ(seam.Errors().size(), 1);  // Save was pressed: the empty name is refused
    QTest::keyClick(f.ed_uid, Qt::Key_Escape);
    EXPECT_TRUE(f.Cancelled);
    EXPECT_FALSE(f.isVisible());
  }
  {
    TProfileForm f;
    f.ed_server->setText("srv");
    // The server's name is shown, not typed: Tab passes it by.
    EXPECT_EQ(Names(TabRound(f)),
              QStringList({"ed_name", "ed_base", "cb_scope", "ed_filter", "ed_att", "ed_readable",
                           "btnsave", "btncancel", "btnrun"}));
    EXPECT_TRUE(f.btnsave->isDefault());
    QTest::keyClick(f.ed_filter, Qt::Key_Escape);
    EXPECT_TRUE(f.Cancelled);
  }
}

TEST_F(DialogTest, FieldsAreNamedByTheirLabelsWithAMnemonicEach) {
  TServerForm s;
  TProfileForm p;
  for (QDialog* d : QList<QDialog*>{&s, &p}) {
    QSet<QChar> seen;
    for (QLabel* label : d->findChildren<QLabel*>()) {
      if (!label->buddy() || !label->buddy()->isEnabled()) continue;
      const int amp = label->text().indexOf('&');
      ASSERT_GE(amp, 0) << label->text().toStdString();
      EXPECT_FALSE(seen.contains(label->text()[amp + 1].toLower())) << label->text().toStdString();
      seen.insert(label->text()[amp + 1].toLower());
    }
    for (QPushButton* b : d->findChildren<QPushButton*>()) {
      const int amp = b->text().indexOf('&');
      ASSERT_GE(amp, 0) << b->text().toStdString();
      EXPECT_FALSE(seen.contains(b->text()[amp + 1].toLower())) << b->text().toStdString();
      seen.insert(b->text()[amp + 1].toLower());
    }
  }
  // A screen reader names a field by its label.
  EXPECT_EQ(QAccessible::queryAccessibleInterface(s.ed_port)->text(QAccessible::Name).trimmed(),
            "Port:");
  EXPECT_EQ(QAccessible::queryAccessibleInterface(p.ed_filter)->text(QAccessible::Name).trimmed(),
            "Filter:");
}

TEST_F(DialogTest, EnterAnswersYesToAQuestionButNeverDeletes) {
  // The desktop's own boxes: Enter takes the default button.
  TDesktopSeam desktop;
  struct Case {
    const char* what;
    std::function<bool()> ask;
    bool enter_answers;
  } cases[] = {
      {"question",
       [&] { return desktop.MessageBox(nullptr, TUiSeam::bkQuestion, "Confirm", "Go on?"); }, true},
      {"before deleting",
       [&] { return desktop.QuestionDefaultNo(nullptr, "Confirm", "Delete it?"); }, false},
  };
  for (const Case& c : cases) {
    bool pressed = false;
    QTimer::singleShot(0, [&] {
      if (QWidget* box = QApplication::activeModalWidget()) {
        QTest::keyClick(box, Qt::Key_Return);
        pressed = true;
      }
    });
    EXPECT_EQ(c.ask(), c.enter_answers) << c.what;
    EXPECT_TRUE(pressed) << c.what;
  }
}
