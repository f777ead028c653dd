// The modal dialog in which one directory server's connection details are
// typed or edited. It never writes to the catalogue: the main window fills
// it, shows it and reads the fields and the Cancelled/Saved flags afterwards.
//
// Test asks about a certificate that fails verification like a run does,
// with the certificates trusted for the server (Tag) at the host and port
// typed. "Trust and connect" there is only kept in the dialog (TestedTrust):
// later Tests accept it at that host and port, and the caller stores it once
// the dialog is saved, for the host and port saved (KeepTestedTrust,
// store/trust.h). Cancel forgets it.
#pragma once

#include <QDialog>
#include <memory>
#include <optional>

#include "dialogs/trustform.h"

#include <string>

class QComboBox;
class QLineEdit;
class QPushButton;

class TServerForm : public QDialog {
  Q_OBJECT
 public:
  explicit TServerForm(QWidget* parent = nullptr);

  QLineEdit* ed_name = nullptr;
  QLineEdit* ed_server = nullptr;
  QLineEdit* ed_port = nullptr;
  // "None", "SSL/TLS", "StartTLS" (catalogue "N", "Y", "T"); choosing one
  // proposes its port: 389, 636, 389.
  QComboBox* cb_security = nullptr;
  QLineEdit* ed_basedn = nullptr;
  QLineEdit* ed_uid = nullptr;
  QLineEdit* ed_pwd = nullptr;
  // "Bind DN and password" or "Kerberos (the current ticket)"; Kerberos
  // disables User DN and Password.
  QComboBox* cb_auth = nullptr;
  // "Keep the password:": "In the desktop keyring", "Ask when connecting",
  // "In the catalogue (clear text)" (catalogue "keyring", "ask",
  // "catalogue"). Asking disables Password (nothing is kept); both need
  // the bind DN sign-in. Test asks for the password of an asking server,
  // and reads the keyring's when Password is left empty.
  QComboBox* cb_secret = nullptr;
  QComboBox* cb_referrals = nullptr;  // "report" or "follow"
  QPushButton* btnsave = nullptr;
  QPushButton* btncancel = nullptr;
  QPushButton* btntest = nullptr;

  int Tag = 0;             // 0 for a new server, otherwise the id being edited
  bool Cancelled = false;  // set by Cancel
  bool Saved = false;      // set by Save when editing
  // Where Test looks for the certificates trusted for Tag (read only; not
  // owned; nullptr: none are known).
  Tdata* TrustCatalogue = nullptr;
  // The certificate Test was told to trust, with the host and port it was
  // presented at; none after Cancel.
  std::optional<TPeerCertificate> TestedTrust() const;

  void btnsaveClick();
  void btncancelClick();
  void btntestClick();
  void cb_securityChange();
  void cb_authChange();
  void cb_secretChange();

  // The choices as the catalogue keeps them, and back (an unknown stored
  // value shows as None, or as the bind DN and password).
  std::string Security() const;
  void SetSecurity(const std::string& ssl);
  std::string Auth() const;
  void SetAuth(const std::string& auth);
  std::string Secret() const;
  void SetSecret(const std::string& secret);
  std::string Referrals() const;
  void SetReferrals(const std::string& referrals);

 protected:
  // Escape and the window manager's close request act as Cancel.
  void reject() override;

 private:
  // Tab goes through the fields and buttons as they are laid out.
  void TabOrder();
  TDialogTrustPrompt trustPrompt_;
  std::shared_ptr<quorvel::TTrustDecision> trust_;
};
