// The main window's passwords out of the catalogue, against the private keyring
// (tests/common/keyring-harness.sh) and the private slapd: the server dialog's
// "Keep the password:" as stored (items checked with secret-tool), the
// password window of Run, Browse and Test, and "Move Passwords to the Keyring".
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <cstdio>
#include <cstdlib>

#include "app/guifixture.h"
#include "common/slapd_env.h"
#include "dialogs/passwordform.h"
#include "dialogs/serverform.h"
#include "net/keyring.h"
#include "store/secrets.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string Sh(const std::string& cmd) {
  std::string out;
  FILE* p = popen(("timeout 60 sh -c " + Quote(cmd) + " 2>&1").c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

std::string ToolLookup(const keyring::TKey& key) {
  return Sh("secret-tool lookup host " + Quote(key.host) + " port " + std::to_string(key.port) +
            " user " + Quote(key.user));
}

class PasswordTest : public TGuiTest {
 protected:
  void SetUp() override {
    static const bool bus = [] {
      const auto env = ReadEnvFile(BinaryDir() + "/keyring-test/env");
      const auto it = env.find("QUORVEL_KEYRING_BUS");
      if (it == env.end()) return false;
      setenv("DBUS_SESSION_BUS_ADDRESS", it->second.c_str(), 1);
      return true;
    }();
    ASSERT_TRUE(bus) << "private keyring not available";
    QUORVEL_REQUIRE_SLAPD(Slapd());
    TGuiTest::SetUp();
  }
  void TearDown() override {
    for (const keyring::TKey& k : made_) keyring::Remove(k);
    TGuiTest::TearDown();
  }
  keyring::TKey Key(const std::string& host, int port = Slapd().port,
                    const std::string& user = Slapd().adminDn) {
    made_.push_back({host, port, user});
    return made_.back();
  }
  TServerRow Admin(const std::string& name) const {
    return TServerRow(name, Slapd().host, Slapd().port, "N", Slapd().adminDn, Slapd().adminPw,
                      Slapd().base);
  }
  // Keeps the password of the catalogue's server `name` in `secret`.
  void Keep(const std::string& name, const std::string& secret) {
    Sh("sqlite3 " + Quote(folder_ + "lib/quorvel.db") + " \"UPDATE servers SET secret='" + secret +
       "', pwd='' WHERE name='" + name + "'\"");
  }
  void RunProfile(const QStringList& path) {
    Click(form_->tv_workspace, Item(form_->tv_workspace, path));
    form_->tb_run->trigger();
  }
  std::vector<keyring::TKey> made_;
};

// The dialog's three choices are stored as said; the keyring item follows the
// server's host and goes with the server.
TEST_F(PasswordTest, ServerDialogKeepsThePasswordWhereChosen) {
  Start();
  const keyring::TKey first = Key("one.example.test", 389, "cn=u");
  const keyring::TKey moved = Key("two.example.test", 389, "cn=u");
  QString offered;
  seam_->dialogs.push_back([&](QDialog& d) {
    auto& f = static_cast<TServerForm&>(d);
    offered = f.cb_secret->currentText();  // a keyring can be reached
    f.ed_name->setText("lab");
    f.ed_server->setText("one.example.test");
    f.ed_uid->setText("cn=u");
    f.ed_pwd->setText("dialog secret");
    f.btnsave->click();
  });
  form_->a_serverClick();
  EXPECT_EQ(offered, "In the desktop keyring");
  EXPECT_EQ(CatalogueRows("servers", "secret,pwd"),
            std::vector<std::string>{"secret=keyring|pwd="});
  EXPECT_EQ(ToolLookup(first), "dialog secret");
  TNodeData* d = NodeData(Item(form_->tv_workspace, {"lab"}));
  ASSERT_TRUE(d && d->server);
  EXPECT_TRUE(d->server->pwd.empty()) << "the record kept the password";

  // Edited: a new host moves the item; the field stays empty (kept as it is).
  Click(form_->tv_workspace, Item(form_->tv_workspace, {"lab"}));
  seam_->dialogs.push_back([&](QDialog& d) {
    auto& f = static_cast<TServerForm&>(d);
    offered = f.ed_pwd->text() + "|" + f.cb_secret->currentText();
    f.ed_server->setText("two.example.test");
    f.btnsave->click();
  });
  form_->e_serverClick();
  EXPECT_EQ(offered, "|In the desktop keyring");
  EXPECT_EQ(ToolLookup(moved), "dialog secret");
  EXPECT_EQ(ToolLookup(first), "");

  // Asked when connecting: nothing kept anywhere.
  seam_->dialogs.push_back([&](QDialog& d) {
    auto& f = static_cast<TServerForm&>(d);
    f.cb_secret->setCurrentIndex(1);
    offered = f.ed_pwd->isEnabled() ? "enabled" : "disabled";
    f.btnsave->click();
  });
  form_->e_serverClick();
  EXPECT_EQ(offered, "disabled");
  EXPECT_EQ(CatalogueRows("servers", "secret,pwd"), std::vector<std::string>{"secret=ask|pwd="});
  EXPECT_EQ(ToolLookup(moved), "");

  // In the catalogue, as before.
  seam_->dialogs.push_back([&](QDialog& d) {
    auto& f = static_cast<TServerForm&>(d);
    f.cb_secret->setCurrentIndex(2);
    f.ed_pwd->setText("clear");
    f.btnsave->click();
  });
  form_->e_serverClick();
  EXPECT_EQ(CatalogueRows("servers", "secret,pwd"),
            std::vector<std::string>{"secret=catalogue|pwd=clear"});

  // Back to the keyring, then deleted: the item goes with the server.
  seam_->dialogs.push_back([&](QDialog& d) {
    auto& f = static_cast<TServerForm&>(d);
    f.cb_secret->setCurrentIndex(0);
    f.btnsave->click();
  });
  form_->e_serverClick();
  EXPECT_EQ(ToolLookup(moved), "clear");
  EXPECT_EQ(CatalogueRows("servers", "secret,pwd"),
            std::vector<std::string>{"secret=keyring|pwd="});
  form_->d_serverClick();
  EXPECT_TRUE(CatalogueRows("servers", "id").empty());
  EXPECT_EQ(ToolLookup(moved), "");
  EXPECT_TRUE(seam_->Errors().isEmpty()) << seam_->Errors().join("\n").toStdString();
}

// Out of the keyring into the catalogue with the field left empty: the
// keyring's password goes along instead of being lost with the item; with no
// item to read, nothing is stored and the box says what to do.
TEST_F(PasswordTest, LeavingTheKeyringTakesItsPasswordAlong) {
  Start();
  const keyring::TKey key = Key("three.example.test", 389, "cn=u");
  seam_->dialogs.push_back([&](QDialog& d) {
    auto& f = static_cast<TServerForm&>(d);
    f.ed_name->setText("lab");
    f.ed_server->setText("three.example.test");
    f.ed_uid->setText("cn=u");
    f.ed_pwd->setText("kept secret");
    f.btnsave->click();
  });
  form_->a_serverClick();
  ASSERT_EQ(ToolLookup(key), "kept secret");
  const auto toCatalogue = [&](QDialog& d) {
    auto& f = static_cast<TServerForm&>(d);
    f.cb_secret->setCurrentIndex(2);
    f.btnsave->click();
  };

  keyring::Remove(key);  // someone emptied the keyring meanwhile
  Click(form_->tv_workspace, Item(form_->tv_workspace, {"lab"}));
  seam_->dialogs.push_back(toCatalogue);
  form_->e_serverClick();
  EXPECT_EQ(CatalogueRows("servers", "secret,pwd"),
            std::vector<std::string>{"secret=keyring|pwd="});
  ASSERT_EQ(seam_->Errors().size(), 1);
  EXPECT_TRUE(seam_->Errors()[0].contains("Type the password to keep it in the catalogue"))
      << seam_->Errors()[0].toStdString();

  ASSERT_EQ(keyring::Store(key, "kept secret"), keyring::TStatus::Ok);
  seam_->dialogs.push_back(toCatalogue);
  form_->e_serverClick();
  EXPECT_EQ(CatalogueRows("servers", "secret,pwd"),
            std::vector<std::string>{"secret=catalogue|pwd=kept secret"});
  EXPECT_EQ(ToolLookup(key), "");
  EXPECT_EQ(seam_->Errors().size(), 1);
}

// Run asks for the password of an asking server, naming it; Cancel sends
// nothing; "Remember until Quorvel exits" spares the next question.
TEST_F(PasswordTest, RunAsksAndRemembers) {
  Catalogue({Admin("asking")}, {{"few", 0, "ou=people," + Slapd().base, 1, "(uid=tuser)", "cn"}});
  Keep("asking", "ask");
  Start();
  QString prompt;
  seam_->dialogs.push_back([&](QDialog& d) {
    auto& f = static_cast<TPasswordForm&>(d);
    prompt = f.lb_prompt->text();
    f.btncancel->click();
  });
  RunProfile({"asking", "few"});
  EXPECT_TRUE(prompt.contains(QString::fromStdString("\"" + Slapd().adminDn + "\"")) &&
              prompt.contains("\"asking\""))
      << prompt.toStdString();
  EXPECT_EQ(form_->PaneLines().last().toStdString(),
            " MSG: Run cancelled: no password was given for \"" + Slapd().adminDn + "\" on " +
                Slapd().host + ", so nothing was sent.");
  EXPECT_FALSE(form_->PaneLines().contains(" MSG: Connecting to " +
                                           QString::fromStdString(Slapd().host) + "..."));
  EXPECT_TRUE(form_->mnu_actions_run->isEnabled());

  seam_->dialogs.push_back([&](QDialog& d) {
    auto& f = static_cast<TPasswordForm&>(d);
    f.ed_password->setText(QString::fromStdString(Slapd().adminPw));
    f.cb_remember->setChecked(true);
    f.btnok->click();
  });
  RunProfile({"asking", "few"});
  EXPECT_EQ(form_->grid->model()->rowCount(), 1);
  const int shown = seam_->dialogsShown;
  RunProfile({"asking", "few"});
  EXPECT_EQ(seam_->dialogsShown, shown) << "asked again though remembered";
  EXPECT_EQ(form_->grid->model()->rowCount(), 1);
  EXPECT_TRUE(seam_->Errors().isEmpty()) << seam_->Errors().join("\n").toStdString();
}

// Run with the keyring's password; without an item the box says what to do.
TEST_F(PasswordTest, RunWithTheKeyring) {
  Catalogue({Admin("kept")}, {{"few", 0, "ou=people," + Slapd().base, 1, "(uid=tuser)", "cn"}});
  Keep("kept", "keyring");
  Start();
  RunProfile({"kept", "few"});
  ASSERT_EQ(seam_->Errors().size(), 1);
  EXPECT_TRUE(seam_->Errors()[0].contains("the desktop keyring holds no password for"))
      << seam_->Errors()[0].toStdString();
  ASSERT_EQ(keyring::Store(Key(Slapd().host), Slapd().adminPw), keyring::TStatus::Ok);
  RunProfile({"kept", "few"});
  EXPECT_EQ(seam_->Errors().size(), 1);
  EXPECT_EQ(form_->grid->model()->rowCount(), 1);
}

// Old catalogue passwords: said once at start-up, then moved by the Server
// menu's command; the window's records follow.
TEST_F(PasswordTest, MovePasswordsToTheKeyring) {
  Catalogue({Admin("old")}, {{"few", 0, "ou=people," + Slapd().base, 1, "(uid=tuser)", "cn"}});
  Key(Slapd().host);
  Start();
  int said = 0;
  for (const QString& line : form_->PaneLines())
    said += line.contains("Move Passwords to the Keyring") ? 1 : 0;
  EXPECT_EQ(said, 1);
  form_->mnu_server_move->trigger();
  EXPECT_EQ(seam_->Infos(), QStringList("Moved 1 password to the desktop keyring; the catalogue "
                                        "keeps none of them any more."));
  EXPECT_EQ(CatalogueRows("servers", "secret,pwd"),
            std::vector<std::string>{"secret=keyring|pwd="});
  EXPECT_EQ(ToolLookup(KeyringKey(*NodeData(Item(form_->tv_workspace, {"old"}))->server)),
            Slapd().adminPw);
  TNodeData* d = NodeData(Item(form_->tv_workspace, {"old"}));
  EXPECT_EQ(d->server->secret, "keyring");
  EXPECT_TRUE(d->server->pwd.empty());
  RunProfile({"old", "few"});
  EXPECT_EQ(form_->grid->model()->rowCount(), 1);
  EXPECT_TRUE(seam_->Errors().isEmpty()) << seam_->Errors().join("\n").toStdString();
}

// The server dialog's Test asks for an asking server's password.
TEST_F(PasswordTest, TestAsksToo) {
  Catalogue({Admin("asking")});
  Keep("asking", "ask");
  Start();
  Click(form_->tv_workspace, Item(form_->tv_workspace, {"asking"}));
  bool remembering = true;
  seam_->dialogs.push_back([&](QDialog& d) {
    auto& f = static_cast<TServerForm&>(d);
    seam_->dialogs.push_back([&](QDialog& p) {
      auto& pw = static_cast<TPasswordForm&>(p);
      remembering = pw.cb_remember->isVisibleTo(&pw);
      pw.ed_password->setText(QString::fromStdString(Slapd().adminPw));
      pw.btnok->click();
    });
    f.btntest->click();
    f.btncancel->click();
  });
  form_->tb_test->trigger();
  EXPECT_FALSE(remembering) << "Test offers to remember";
  EXPECT_EQ(seam_->Infos(), QStringList("Connection successful..."));
}

}  // namespace
