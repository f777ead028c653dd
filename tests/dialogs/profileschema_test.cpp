// The profile dialog with a server's schema: completion, "Choose...", the
// Save question about unknown names and the filter check under the field.
// The schema is the domain values schema the test directory uses plus the
// stock definitions of a few common types and classes.
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QCompleter>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <fstream>
#include <gtest/gtest.h>

#include "dialogs/attributechooser.h"
#include "dialogs/profileform.h"
#include "dialogs/testseam.h"
#include "store/messages.h"

namespace {

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
  TMessageSink* prev_ = nullptr;
};

std::shared_ptr<const quorvel::TSchema> TestSchema() {
  std::vector<std::string> types = {
      "( 2.5.4.41 NAME 'name' SYNTAX 1.3.6.1.4.1.1466.115.121.1.15{32768} )",
      "( 2.5.4.3 NAME ( 'cn' 'commonName' ) DESC 'RFC4519: common name(s)' SUP name )",
      "( 2.5.4.4 NAME ( 'sn' 'surname' ) DESC 'RFC2256: last (family) name(s)' SUP name )",
      "( 2.5.4.42 NAME ( 'givenName' 'gn' ) SUP name )",
      "( 0.9.2342.19200300.100.1.3 NAME ( 'mail' 'rfc822Mailbox' ) SYNTAX "
      "1.3.6.1.4.1.1466.115.121.1.26{256} )",
      "( 2.5.4.0 NAME 'objectClass' SYNTAX 1.3.6.1.4.1.1466.115.121.1.38 )",
      "( 2.5.4.35 NAME 'userPassword' SYNTAX 1.3.6.1.4.1.1466.115.121.1.40{128} )",
      "( 2.5.4.20 NAME 'telephoneNumber' SYNTAX 1.3.6.1.4.1.1466.115.121.1.50{32} )"};
  std::ifstream in(std::string(QUORVEL_SOURCE_DIR) + "/scripts/ad-values.schema");
  std::string line, current;
  while (std::getline(in, line)) {
    if (line.rfind("attributetype ", 0) == 0) {
      current = line.substr(14);
    } else if (!current.empty() && !line.empty() && line[0] == ' ') {
      current += line;
    } else if (!current.empty()) {
      types.push_back(current);
      current.clear();
    }
  }
  return std::make_shared<const quorvel::TSchema>(quorvel::TSchema::Parse(
      types, {"( 2.5.6.0 NAME 'top' ABSTRACT MUST objectClass )",
              "( 2.5.6.6 NAME 'person' SUP top STRUCTURAL MUST ( sn $ cn ) MAY ( userPassword $ "
              "telephoneNumber ) )"}));
}

struct ProfileSchemaTest : ::testing::Test {
  quorvel::test::TTestSeam seam;
  SeamSink sink;
  void Fill(TProfileForm& f, const char* filter, const char* att) {
    f.ed_name->setText("p");
    f.ed_base->setText("o=x");
    f.ed_filter->setText(filter);
    f.ed_att->setPlainText(att);
  }
};

}  // namespace

TEST_F(ProfileSchemaTest, CompletesTheNameAfterTheLastSemicolon) {
  TProfileForm f;
  f.SetSchema(TestSchema(), "Test directory");
  f.show();
  f.activateWindow();
  f.ed_att->setPlainText("cn;mail");
  f.ed_att->setFocus();
  f.ed_att->moveCursor(QTextCursor::End);
  QCompleter* c = f.ed_att->Completer();
  struct Step {
    const char* typed;
    QStringList offered;
  };
  // Prefixes without regard to case; aliases are names of their own.
  const Step steps[] = {
      {";GIV", {"givenName"}},
      {";commonN", {"commonName"}},
      {";S",
       {"sAMAccountName", "schemaIDGUID", "securityIdentifier", "sIDHistory", "sn", "surname"}},
      {"; obj", {"objectClass", "objectGUID", "objectSid"}}};
  for (const Step& s : steps) {
    f.ed_att->setPlainText("cn;mail");
    f.ed_att->moveCursor(QTextCursor::End);
    QTest::keyClicks(f.ed_att, s.typed);
    QStringList offered;
    for (int i = 0; i < c->completionCount(); ++i) {
      c->setCurrentRow(i);
      offered << c->currentCompletion();
    }
    EXPECT_EQ(offered.join(","), s.offered.join(",")) << s.typed;
    EXPECT_TRUE(c->popup()->isVisible()) << s.typed;
  }
  // Enter takes the highlighted name in place of the typed prefix.
  f.ed_att->setPlainText("cn;mail");
  f.ed_att->moveCursor(QTextCursor::End);
  QTest::keyClicks(f.ed_att, ";givenn");
  ASSERT_TRUE(c->popup()->isVisible());
  QTest::keyClick(c->popup(), Qt::Key_Return);
  EXPECT_EQ(f.ed_att->toPlainText(), "cn;mail;givenName");
  EXPECT_FALSE(c->popup()->isVisible());
  f.btncancel->click();
}

TEST_F(ProfileSchemaTest, ChooseListsTypesByClassAndFilterAndAddsTheChecked) {
  TProfileForm f;
  f.SetSchema(TestSchema(), "Test directory");
  f.ed_att->setPlainText("cn;mail");
  QStringList shownForPerson, shownForSur;
  seam.dialogs.push_back([&](QDialog& d) {
    auto& chooser = dynamic_cast<TAttributeChooser&>(d);
    EXPECT_EQ(chooser.Shown().size(), 39);  // every type
    chooser.cb_class->setCurrentText("person");
    shownForPerson = chooser.Shown();
    chooser.ed_search->setText("SUR");  // matches sn by its other name
    shownForSur = chooser.Shown();
    chooser.ed_search->clear();
    chooser.cb_class->setCurrentIndex(0);
    // Checked in another order than listed; the list's order counts.
    for (const char* name : {"telephoneNumber", "objectSid", "cn"}) {
      auto items = chooser.lv_attributes->findItems(name, Qt::MatchExactly, 0);
      ASSERT_EQ(items.size(), 1) << name;
      items[0]->setCheckState(0, Qt::Checked);
    }
    auto sid = chooser.lv_attributes->findItems("objectSid", Qt::MatchExactly, 0)[0];
    EXPECT_EQ(sid->text(3), "1.3.6.1.4.1.1466.115.121.1.40 (Octet String)");
    EXPECT_EQ(sid->text(4), "single");
    auto cn = chooser.lv_attributes->findItems("cn", Qt::MatchExactly, 0)[0];
    EXPECT_EQ(cn->text(1), "commonName");
    EXPECT_EQ(cn->text(2), "RFC4519: common name(s)");
    EXPECT_EQ(cn->text(3), "1.3.6.1.4.1.1466.115.121.1.15 (Directory String)");  // through SUP
    EXPECT_EQ(cn->text(4), "multiple");
    chooser.accept();
  });
  f.btnchoose->click();
  EXPECT_EQ(shownForPerson,
            QStringList({"cn", "objectClass", "sn", "telephoneNumber", "userPassword"}));
  EXPECT_EQ(shownForSur, QStringList({"sn"}));
  EXPECT_EQ(f.ed_att->toPlainText(), "cn;mail;objectSid;telephoneNumber");
  f.btncancel->click();
}

TEST_F(ProfileSchemaTest, SaveAsksAboutUnknownNamesAndTheFilterIsCheckedAsTyped) {
  TProfileForm f;
  f.SetSchema(TestSchema(), "Test directory");
  Fill(f, "(&(cn=a)(surnme=b))", "cn;mial;department;*");
  EXPECT_EQ(f.lb_filter->text(),
            "surnme: not in the schema of Test directory; did you mean surname?");
  seam.answers = {false};
  f.btnsave->click();
  ASSERT_EQ(seam.Texts(TUiSeam::bkQuestion).size(), 1u);
  EXPECT_EQ(seam.Texts(TUiSeam::bkQuestion)[0],
            "mial: not in the schema of Test directory; did you mean mail?\r\n"
            "department: not in the schema of Test directory.\r\n"
            "surnme: not in the schema of Test directory; did you mean surname?\r\n"
            "\r\nSave the profile anyway?");
  EXPECT_NE(f.result(), QDialog::Accepted);
  EXPECT_EQ(f.ed_att->toPlainText(), "cn;mial;department;*");  // never changed without the user
  seam.answers = {true};
  f.btnsave->click();
  EXPECT_EQ(f.result(), QDialog::Accepted);

  // A filter that is not one: its position and reason under the field; Save
  // is allowed, and the names are fine.
  TProfileForm g;
  g.SetSchema(TestSchema(), "Test directory");
  Fill(g, "(cn=Smith (Admin))", "cn;MAIL;commonName");
  EXPECT_EQ(g.lb_filter->text(), "Position 11: unescaped \"(\" in a value; write \\28 for it");
  g.ed_filter->setText("(cn=Smith \\28Admin\\29)");
  EXPECT_EQ(g.lb_filter->text(), "");
  g.ed_filter->setText("(cn=Smith (Admin))");
  const std::size_t before = seam.boxes.size();
  g.btnsave->click();
  EXPECT_EQ(g.result(), QDialog::Accepted);
  EXPECT_EQ(seam.boxes.size(), before);

  // Without a schema nothing is checked but the filter, and Choose is off.
  TProfileForm h;
  h.SetSchema(nullptr, "Test directory");
  Fill(h, "(cn=", "mial");
  EXPECT_FALSE(h.btnchoose->isEnabled());
  EXPECT_EQ(h.lb_filter->text(), "Position 5: missing \")\" for the \"(\" at position 1");
  h.btnsave->click();
  EXPECT_EQ(h.result(), QDialog::Accepted);
  EXPECT_EQ(seam.boxes.size(), before);
}
