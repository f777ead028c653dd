#include "dialogs/serverform.h"

#include <QApplication>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdlib>

#include "dialogs/busywork.h"
#include "dialogs/connectiontest.h"
#include "dialogs/formlayout.h"
#include "dialogs/passwordform.h"
#include "net/keyring.h"
#include "store/secrets.h"
#include "store/messages.h"

TServerForm::TServerForm(QWidget* parent) : QDialog(parent) {
  setObjectName("TServerForm");
  setWindowTitle("Server Properties: New");
  quorvel::MakeFixedDialog(*this);

  ed_name = new QLineEdit(this);
  ed_server = new QLineEdit(this);
  ed_port = new QLineEdit(this);
  cb_security = new QComboBox(this);
  cb_security->addItems({"None", "SSL/TLS", "StartTLS"});
  ed_basedn = new QLineEdit("O=Organization", this);
  ed_uid = new QLineEdit(this);
  ed_pwd = new QLineEdit(this);
  ed_pwd->setEchoMode(QLineEdit::Password);
  // One "*" per character, whatever the platform style's own mask is.
  ed_pwd->setStyleSheet("QLineEdit { lineedit-password-character: 42; }");
  cb_auth = new QComboBox(this);
  cb_auth->addItems({"Bind DN and password", "Kerberos (the current ticket)"});
  cb_secret = new QComboBox(this);
  cb_secret->addItems(
      {"In the desktop keyring", "Ask when connecting", "In the catalogue (clear text)"});
  cb_secret->setObjectName("cb_secret");
  cb_referrals = new QComboBox(this);
  cb_referrals->addItems({"Report them", "Follow them with the same sign-in"});
  cb_referrals->setToolTip(
      "Where the directory refers a search to other places (other servers or partitions): list "
      "them, or search them too, signed in the same way and never over a weaker connection.");
  btnsave = new QPushButton("&Save", this);
  btncancel = new QPushButton("&Cancel", this);
  btntest = new QPushButton("&Test", this);
  ed_name->setObjectName("ed_name");
  ed_server->setObjectName("ed_server");
  ed_port->setObjectName("ed_port");
  cb_security->setObjectName("cb_security");
  cb_auth->setObjectName("cb_auth");
  cb_referrals->setObjectName("cb_referrals");
  ed_basedn->setObjectName("ed_basedn");
  ed_uid->setObjectName("ed_uid");
  ed_pwd->setObjectName("ed_pwd");
  btnsave->setObjectName("btnsave");
  btncancel->setObjectName("btncancel");
  btntest->setObjectName("btntest");
  btnsave->setDefault(true);
  btncancel->setAutoDefault(false);
  btntest->setAutoDefault(false);

  auto* form = new QFormLayout;
  form->addRow(quorvel::BoldLabel("&Name: ", this, ed_name), ed_name);
  form->addRow(quorvel::BoldLabel("&Host IP: ", this, ed_server), ed_server);
  form->addRow(quorvel::BoldLabel("&Port: ", this, ed_port), ed_port);
  form->addRow(quorvel::BoldLabel("Secur&ity: ", this, cb_security), cb_security);
  form->addRow(quorvel::BoldLabel("&Base DN: ", this, ed_basedn), ed_basedn);
  form->addRow(quorvel::BoldLabel("Si&gn in with: ", this, cb_auth), cb_auth);
  form->addRow(quorvel::BoldLabel("&User DN: ", this, ed_uid), ed_uid);
  form->addRow(quorvel::BoldLabel("Pass&word: ", this, ed_pwd), ed_pwd);
  form->addRow(quorvel::BoldLabel("&Keep the password: ", this, cb_secret), cb_secret);
  form->addRow(quorvel::BoldLabel("&Referrals: ", this, cb_referrals), cb_referrals);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnsave);
  buttons->addWidget(btncancel);
  buttons->addWidget(btntest);
  auto* top = new QVBoxLayout(this);
  top->addLayout(form);
  top->addLayout(buttons);
  setMinimumWidth(380);
  setFixedSize(sizeHint().expandedTo(QSize(380, 0)));

  TabOrder();
  ed_name->setFocus();

  connect(btnsave, &QPushButton::clicked, this, &TServerForm::btnsaveClick);
  connect(btncancel, &QPushButton::clicked, this, &TServerForm::btncancelClick);
  connect(btntest, &QPushButton::clicked, this, &TServerForm::btntestClick);
  connect(cb_security, &QComboBox::currentIndexChanged, this, &TServerForm::cb_securityChange);
  connect(cb_auth, &QComboBox::currentIndexChanged, this, &TServerForm::cb_authChange);
  connect(cb_secret, &QComboBox::currentIndexChanged, this, &TServerForm::cb_secretChange);
}

void TServerForm::TabOrder() {
  quorvel::ChainTabOrder({ed_name, ed_server, ed_port, cb_security, ed_basedn, cb_auth, ed_uid,
                          ed_pwd, cb_secret, cb_referrals, btnsave, btncancel, btntest});
}

void TServerForm::btnsaveClick() {
  // The same checks for a new server and for an edited one: an edit must not
  // store an empty name (or host, port, ...) either.
  // A text of blanks counts as filled; only a truly empty field stops the save.
  if (ed_name->text().isEmpty()) {
    LogError("\"Name\" cannot be empty, please provide a name fot his server profile.");
    return;
  }
  if (ed_server->text().isEmpty()) {
    LogError("\"Server\" cannot be empty, please provide a valid server IP address.");
    return;
  }
  if (ed_port->text().isEmpty()) {
    LogError("\"Port\" cannot be empty, please provide a valid server port number.");
    return;
  }
  if (Tag != 0) Saved = true;
  accept();
}

void TServerForm::btncancelClick() {
  Cancelled = true;
  trust_.reset();
  QDialog::reject();
}

void TServerForm::reject() {
  btncancelClick();
}

void TServerForm::cb_securityChange() {
  ed_port->setText(cb_security->currentIndex() == 1 ? "636" : "389");
}

void TServerForm::cb_authChange() {
  // With Kerberos the ticket signs in: the DN and password are neither used
  // nor stored.
  const bool simple = cb_auth->currentIndex() != 1;
  ed_uid->setEnabled(simple);
  ed_pwd->setEnabled(simple && Secret() != quorvel::kSecretAsk);
  cb_secret->setEnabled(simple);
}

void TServerForm::cb_secretChange() {
  // A password that is asked for is kept nowhere, not even in this field.
  if (Secret() == quorvel::kSecretAsk) ed_pwd->clear();
  cb_authChange();
}

std::string TServerForm::Secret() const {
  static const char* const kStored[] = {quorvel::kSecretKeyring, quorvel::kSecretAsk,
                                        quorvel::kSecretCatalogue};
  const int i = cb_secret->currentIndex();
  return i >= 0 && i < 3 ? kStored[i] : quorvel::kSecretCatalogue;
}

void TServerForm::SetSecret(const std::string& secret) {
  cb_secret->setCurrentIndex(secret == quorvel::kSecretKeyring ? 0
                             : secret == quorvel::kSecretAsk   ? 1
                                                               : 2);
  cb_secretChange();
}

std::string TServerForm::Security() const {
  static const char* const kStored[] = {"N", "Y", "T"};
  const int i = cb_security->currentIndex();
  return i >= 0 && i < 3 ? kStored[i] : "N";
}

void TServerForm::SetSecurity(const std::string& ssl) {
  cb_security->setCurrentIndex(ssl == "Y" ? 1 : ssl == "T" ? 2 : 0);
}

std::string TServerForm::Auth() const {
  return cb_auth->currentIndex() == 1 ? "kerberos" : "simple";
}

std::string TServerForm::Referrals() const {
  return cb_referrals->currentIndex() == 1 ? "follow" : "report";
}

void TServerForm::SetReferrals(const std::string& referrals) {
  cb_referrals->setCurrentIndex(referrals == "follow" ? 1 : 0);
}

void TServerForm::SetAuth(const std::string& auth) {
  cb_auth->setCurrentIndex(auth == "kerberos" ? 1 : 0);
}

void TServerForm::btntestClick() {
  const std::string host = ed_server->text().toStdString();
  const std::string port = ed_port->text().toStdString();
  const std::string uid = ed_uid->text().toStdString();
  std::string pwd = ed_pwd->text().toStdString();
  const std::string ssl = Security();
  const std::string auth = Auth();
  // A server that asks for its password asks here too.
  TServerNodeData typed;
  typed.server = host;
  typed.port = std::atoi(port.c_str());
  typed.uid = uid;
  typed.auth = auth;
  typed.secret = Secret();
  if (quorvel::NeedsPassword(typed) && typed.secret == quorvel::kSecretAsk &&
      !quorvel::AskPassword(this, ed_name->text().toStdString(), typed, pwd, nullptr)) {
    LogInfo("Test cancelled: no password was given, so nothing was sent.");
    return;
  }
  // One decision for every Test of this dialog, so that what one Test was
  // told to trust holds for the next at the same host and port.
  if (!trust_) {
    trust_ = std::make_shared<quorvel::TTrustDecision>(TTrustContext{TrustCatalogue, &trustPrompt_},
                                                       Tag);
    trust_->KeepTrustPending = true;
  }
  // While the test waits on the server the dialog keeps painting, with the
  // busy cursor and its buttons greyed to show it is working; both end right
  // before the outcome is reported.
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const QList<QPushButton*> buttons{btnsave, btncancel, btntest};
  for (QPushButton* b : buttons) b->setEnabled(false);
  bool busy = true;
  auto done = [&] {
    if (!busy) return;
    busy = false;
    QApplication::restoreOverrideCursor();
    for (QPushButton* b : buttons) b->setEnabled(true);
  };
  quorvel::RunBusy([&] {
    // Password left empty for a keyring server: the keyring's, for the
    // host, port and bind DN typed.
    if (pwd.empty() && quorvel::NeedsPassword(typed) && typed.secret == quorvel::kSecretKeyring) {
      std::string why;
      if (!quorvel::ReadKeyringPassword(typed, &why)) {
        quorvel::RunOnGuiThread(done);
        LogError("Error connecting to \"" + host + "\": " + why);
        return;
      }
      pwd.swap(typed.pwd);
    }
    quorvel::TestConnection(
        host, port, uid, pwd, ssl, auth, [&] { quorvel::RunOnGuiThread(done); }, trust_);
  });
  quorvel::keyring::Wipe(pwd);
  done();
}

std::optional<TPeerCertificate> TServerForm::TestedTrust() const {
  if (!trust_ || Cancelled) return std::nullopt;
  return trust_->Pending();
}
