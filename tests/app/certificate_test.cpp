// The main window meets a server certificate its system does not know (the
// private directory server's authority is hidden from it): Run asks, Cancel
// fails like a refused connection with the reason in the pane, "Trust and
// connect" remembers it for that server only, and the server dialog's Test
// and Browse ask for another server again. What a Test trusts is remembered
// only when its dialog is saved.
#include <QLabel>
#include <QTableView>
#include <QPushButton>

#include <cstdlib>

#include "app/guifixture.h"
#include "common/slapd_env.h"
#include "dialogs/serverform.h"
#include "dialogs/trustform.h"

using namespace quorvel::test;

namespace {

class CertificateTest : public TGuiTest {
 protected:
  void SetUp() override {
    TGuiTest::SetUp();
    const char* saved = std::getenv("SSL_CERT_FILE");
    saved_ = saved ? saved : "";
    setenv("SSL_CERT_FILE", "/nonexistent/no-authority.pem", 1);
  }
  void TearDown() override {
    setenv("SSL_CERT_FILE", saved_.c_str(), 1);
    TGuiTest::TearDown();
  }
  // The next certificate question is answered by pressing one of its buttons.
  void Answer(QPushButton* TTrustForm::*button) {
    seam_->dialogs.push_back([this, button](QDialog& d) {
      auto& f = dynamic_cast<TTrustForm&>(d);
      questions_.append(f.lbl_text->text());
      (f.*button)->click();
    });
  }
  int Rows() { return form_->grid->model() ? form_->grid->model()->rowCount() : 0; }
  QStringList questions_;
  std::string saved_;
};

}  // namespace

TEST_F(CertificateTest, RunAsksOnceAndAnotherServerAsksAgain) {
  const SlapdEnv& env = Slapd();
  QUORVEL_REQUIRE_SLAPD(env);
  Catalogue({TServerRow("tls", env.host, env.ldapsPort, "Y", env.adminDn, env.adminPw),
             TServerRow("twin", env.host, env.ldapsPort, "Y", env.adminDn, env.adminPw, env.base)},
            {{"me", 0, "ou=people," + env.base, 2, "(uid=tuser)", "cn"}});
  Start();
  auto run = [&] {
    Click(form_->tv_workspace, Item(form_->tv_workspace, {"tls", "me"}));
    form_->tb_run->trigger();
  };

  Answer(&TTrustForm::btncancel);
  run();
  ASSERT_EQ(questions_.size(), 1);
  EXPECT_TRUE(questions_[0].contains("issued by an authority that is not trusted"));
  ASSERT_EQ(seam_->Errors().size(), 1);
  EXPECT_TRUE(seam_->Errors()[0].contains("ErrorCode: 10091"));
  EXPECT_TRUE(seam_->Errors()[0].contains("The server's certificate is not trusted"));
  EXPECT_TRUE(form_->PaneLines().join("\n").contains("The server's certificate is not trusted"));
  EXPECT_EQ(Rows(), 0);

  seam_->Clear();
  Answer(&TTrustForm::btntrust);
  run();
  EXPECT_EQ(questions_.size(), 2);
  EXPECT_TRUE(seam_->Errors().isEmpty()) << seam_->Errors().join("|").toStdString();
  EXPECT_EQ(Rows(), 1);

  run();  // remembered: nobody is asked
  EXPECT_EQ(questions_.size(), 2);
  EXPECT_EQ(seam_->dialogsShown, 2);
  EXPECT_EQ(Rows(), 1);

  // The twin server on the same address has trusted nothing: its Test asks.
  seam_->Clear();
  Click(form_->tv_workspace, Item(form_->tv_workspace, {"twin"}));
  auto testThen = [this](QPushButton* TServerForm::*close) {
    seam_->dialogs.push_back([close](QDialog& d) {
      auto& f = static_cast<TServerForm&>(d);
      f.btntest->click();
      (f.*close)->click();
    });
  };
  testThen(&TServerForm::btncancel);
  Answer(&TTrustForm::btntrust);
  form_->tb_test->trigger();
  EXPECT_EQ(questions_.size(), 3);
  EXPECT_EQ(seam_->Infos(), QStringList("Connection successful..."));

  // Trusted in a Test whose dialog was cancelled: nothing was remembered, and
  // browsing the twin asks again.
  seam_->Clear();
  Answer(&TTrustForm::btncancel);
  auto* br = form_->tv_browse;
  Click(br, Item(br, {"twin"}));
  form_->o_browse->trigger();
  EXPECT_EQ(questions_.size(), 4);
  EXPECT_EQ(seam_->Errors().size(), 1);
  EXPECT_EQ(Item(br, {"twin"})->childCount(), 0);

  // Trusted in a Test whose dialog is saved at the same host and port: it is
  // remembered, and browsing the twin no longer asks.
  seam_->Clear();
  Click(form_->tv_workspace, Item(form_->tv_workspace, {"twin"}));
  testThen(&TServerForm::btnsave);
  Answer(&TTrustForm::btntrust);
  form_->tb_test->trigger();
  EXPECT_EQ(questions_.size(), 5);
  seam_->Clear();
  Click(br, Item(br, {"twin"}));
  form_->o_browse->trigger();
  EXPECT_EQ(questions_.size(), 5);
  EXPECT_TRUE(seam_->Errors().isEmpty()) << seam_->Errors().join("|").toStdString();
  EXPECT_GT(Item(br, {"twin"})->childCount(), 0);
}
