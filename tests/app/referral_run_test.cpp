// Run and Browse meet referrals (the servers of the fixture "referrals",
// tests/common/referral-harness.sh): the places not searched are listed in
// the message pane and counted in the title, or followed into the same rows.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QTabWidget>
#include <QTableView>
#include <QTreeWidget>

#include "app/guifixture.h"
#include "common/slapd_env.h"

using namespace quorvel::test;

namespace {

class ReferralRunTest : public TGuiTest {
 protected:
  void SetUp() override {
    TGuiTest::SetUp();
    env_ = ReadEnvFile(BinaryDir() + "/referral-test/env");
    ASSERT_FALSE(env_["REF_A_PORT"].empty()) << "the referral servers are not running";
  }
  TServerRow ServerA(const std::string& name, const std::string& referrals,
                     const std::string& basedn = "") {
    TServerRow row(name, "127.0.0.1", std::stoi(env_["REF_A_PORT"]), "N", env_["REF_ADMIN_DN"],
                   env_["REF_ADMIN_PW"], basedn);
    row.referrals = referrals;
    return row;
  }
  std::string Ok() { return "ou=ok," + env_["REF_BASE"]; }
  void RunProfile(const QStringList& path) {
    Click(form_->tv_workspace, Item(form_->tv_workspace, path));
    form_->tb_run->trigger();
  }
  // The pane lines from the heading of the places not searched on, up to the hint.
  QStringList ReferralLines() {
    const QStringList lines = form_->PaneLines();
    int i = -1;
    for (int k = 0; k < lines.size(); ++k)
      if (lines[k].startsWith(" MSG: The server referred to ")) i = k;
    return i < 0 ? QStringList() : lines.mid(i, 5);
  }
  std::map<std::string, std::string> env_;
};

TEST_F(ReferralRunTest, ReportedInThePaneAndTitleOrFollowedIntoTheRows) {
  Catalogue({ServerA("report", "report", Ok()), ServerA("follow", "follow")},
            {{"ok", 0, Ok(), 2, "(objectClass=*)", "cn"},
             {"ok too", 1, Ok(), 2, "(objectClass=*)", "cn"}});
  Start();
  RunProfile({"report", "ok"});
  EXPECT_EQ(form_->grid->model()->rowCount(), 4);
  EXPECT_TRUE(form_->title->text().endsWith("returned 4 objects. (3 referrals not followed)"))
      << form_->title->text().toStdString();
  const QStringList lines = ReferralLines();
  ASSERT_EQ(lines.size(), 5) << form_->PaneLines().join("\n").toStdString();
  EXPECT_EQ(lines[0], " MSG: The server referred to 3 other place(s) that were not searched:");
  const QString b =
      QString::fromStdString(" MSG:     ldap://127.0.0.1:" + env_["REF_B_PORT"] + "/");
  for (int i = 1; i <= 3; ++i) EXPECT_TRUE(lines[i].startsWith(b)) << lines[i].toStdString();
  EXPECT_TRUE(lines[4].startsWith(" MSG: An Active Directory forest")) << lines[4].toStdString();
  EXPECT_TRUE(seam_->Errors().isEmpty()) << seam_->Errors().join("\n").toStdString();

  const int before = form_->PaneLines().size();
  RunProfile({"follow", "ok too"});
  EXPECT_EQ(form_->grid->model()->rowCount(), 13);  // every place's entries
  EXPECT_TRUE(form_->title->text().endsWith("returned 13 objects."))
      << form_->title->text().toStdString();
  for (const QString& line : form_->PaneLines().mid(before))
    EXPECT_FALSE(line.startsWith(" MSG: The server referred to")) << line.toStdString();

  // Browse lists one level and says which children are held elsewhere.
  form_->tabs->setCurrentIndex(1);
  QApplication::processEvents();
  Click(form_->tv_browse, Item(form_->tv_browse, {"report"}));
  form_->o_browse->trigger();
  EXPECT_EQ(Captions(Item(form_->tv_browse, {"report"})),
            QStringList(QString::fromStdString("ou=people," + Ok())));
  EXPECT_EQ(ReferralLines().value(0),
            " MSG: The server referred to 3 other place(s) that were not searched:");
}

}  // namespace
