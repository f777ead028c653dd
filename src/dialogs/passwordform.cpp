#include "dialogs/passwordform.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "dialogs/formlayout.h"
#include "dialogs/uiseam.h"
#include "net/keyring.h"

TPasswordForm::TPasswordForm(QWidget* parent, const std::string& serverName,
                             const TServerNodeData& server, bool withRemember)
    : QDialog(parent) {
  setObjectName("TPasswordForm");
  setWindowTitle("Password: " + QString::fromStdString(serverName));
  quorvel::MakeFixedDialog(*this);
  lb_prompt = new QLabel(this);
  lb_prompt->setObjectName("lb_prompt");
  // The names come from the catalogue and the user: never mark-up.
  lb_prompt->setTextFormat(Qt::PlainText);
  lb_prompt->setWordWrap(true);
  lb_prompt->setText(QString::fromStdString(
      "The password of \"" + server.uid + "\" on the server \"" + serverName + "\" (" +
      server.server + ":" + std::to_string(server.port) + "):"));
  ed_password = new QLineEdit(this);
  ed_password->setObjectName("ed_password");
  ed_password->setEchoMode(QLineEdit::Password);
  ed_password->setStyleSheet("QLineEdit { lineedit-password-character: 42; }");
  ed_password->setAccessibleName("Password");
  lb_prompt->setBuddy(ed_password);
  cb_remember = new QCheckBox("&Remember until Quorvel exits", this);
  cb_remember->setObjectName("cb_remember");
  cb_remember->setVisible(withRemember);
  btnok = new QPushButton("OK", this);
  btnok->setObjectName("btnok");
  btnok->setDefault(true);
  btncancel = new QPushButton("&Cancel", this);
  btncancel->setObjectName("btncancel");
  btncancel->setAutoDefault(false);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnok);
  buttons->addWidget(btncancel);
  auto* top = new QVBoxLayout(this);
  top->addWidget(lb_prompt);
  top->addWidget(ed_password);
  top->addWidget(cb_remember);
  top->addLayout(buttons);
  setMinimumWidth(360);
  quorvel::ChainTabOrder({ed_password, cb_remember, btnok, btncancel});
  ed_password->setFocus();
  connect(btnok, &QPushButton::clicked, this, &QDialog::accept);
  connect(btncancel, &QPushButton::clicked, this, &QDialog::reject);
}

TPasswordForm::~TPasswordForm() {
  // The field's text is the password: overwrite it before the widget goes.
  ed_password->setText(QString(ed_password->text().size(), QChar('*')));
  ed_password->clear();
}

namespace quorvel {

bool AskPassword(QWidget* parent, const std::string& serverName, const TServerNodeData& server,
                 std::string& password, bool* remember) {
  keyring::Wipe(password);
  TPasswordForm dlg(parent, serverName, server, remember != nullptr);
  // The caller may be busy (a wait cursor): this window wants the arrow.
  QApplication::setOverrideCursor(Qt::ArrowCursor);
  const bool ok = UiSeam().ExecDialog(dlg) == QDialog::Accepted;
  QApplication::restoreOverrideCursor();
  if (!ok) return false;
  QByteArray typed = dlg.ed_password->text().toUtf8();
  password.assign(typed.constData(), static_cast<size_t>(typed.size()));
  typed.fill('\0');
  if (remember) *remember = dlg.cb_remember->isChecked();
  return true;
}

}  // namespace quorvel
