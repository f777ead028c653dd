#include "dialogs/trustform.h"

#include <QApplication>
#include <QCursor>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "dialogs/busywork.h"
#include "dialogs/uiseam.h"

namespace quorvel {

QString TrustQuestionText(const TTrustQuestion& q) {
  const TPeerCertificate& c = q.cert;
  std::string t;
  if (q.expired) {
    t = "The certificate you trusted for the server " + q.server +
        " has expired: it was valid "
        "until " +
        c.notAfter +
        ". The server should be given a new certificate; ask the "
        "directory's administrator. Trust it again only if you know it is still the server's "
        "own certificate.\n\nReason: " +
        c.reason + "\n\n";
  } else if (q.remembered.empty()) {
    t = "The certificate of the server " + q.server + " could not be verified: " + c.reason +
        ".\n\n";
  } else {
    t = "WARNING: the certificate of the server " + q.server +
        " has changed since you trusted it. Someone may be intercepting the connection to "
        "read the password sent to the server, or the server has been given a new "
        "certificate.\n\n"
        "Remembered SHA-256 fingerprint:\n" +
        q.remembered + "\nPresented SHA-256 fingerprint:\n" + c.fingerprint + "\n\n" +
        "Reason: " + c.reason + "\n";
  }
  t += "Subject: " + c.subject + "\nIssuer: " + c.issuer +
       "\nIssued for: " + (c.names.empty() ? std::string("(no names)") : c.names) +
       "\nValid from: " + c.notBefore + "\nValid until: " + c.notAfter + "\n";
  if (q.remembered.empty()) t += "SHA-256 fingerprint:\n" + c.fingerprint + "\n";
  t += "\nConnect only if you know this is the server's own certificate.";
  return QString::fromStdString(t);
}

}  // namespace quorvel

TTrustForm::TTrustForm(const TTrustQuestion& question, QWidget* parent) : QDialog(parent) {
  const bool changed = !question.remembered.empty();
  setObjectName("TTrustForm");
  setWindowTitle(changed            ? "Certificate changed"
                 : question.expired ? "Certificate expired"
                                    : "Certificate not trusted");
  auto* icon = new QLabel(this);
  const int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
  icon->setPixmap(
      style()
          ->standardIcon(changed ? QStyle::SP_MessageBoxCritical : QStyle::SP_MessageBoxWarning)
          .pixmap(size, size));
  lbl_text = new QLabel(quorvel::TrustQuestionText(question), this);
  lbl_text->setObjectName("lbl_text");
  // The reason, the names and the dates are the certificate's own text.
  lbl_text->setTextFormat(Qt::PlainText);
  lbl_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lbl_text->setWordWrap(true);
  // Wide enough for a whole fingerprint on one line.
  lbl_text->setMinimumWidth(lbl_text->fontMetrics().horizontalAdvance(QString(95, QChar(0x38))) +
                            8);
  btntrust = new QPushButton("Trust and connect", this);
  btnonce = new QPushButton("Connect this time only", this);
  btncancel = new QPushButton("Cancel", this);
  btntrust->setObjectName("btntrust");
  btnonce->setObjectName("btnonce");
  btncancel->setObjectName("btncancel");
  // Enter answers Cancel, wherever the focus is.
  btntrust->setAutoDefault(false);
  btnonce->setAutoDefault(false);
  btncancel->setDefault(true);
  if (!question.canRemember) {
    btntrust->setEnabled(false);
    btntrust->setToolTip("Save the server first to remember its certificate.");
  }

  auto* body = new QHBoxLayout;
  body->addWidget(icon, 0, Qt::AlignTop);
  body->addWidget(lbl_text, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btntrust);
  buttons->addWidget(btnonce);
  buttons->addWidget(btncancel);
  auto* top = new QVBoxLayout(this);
  top->addLayout(body);
  top->addLayout(buttons);
  btncancel->setFocus();

  connect(btntrust, &QPushButton::clicked, this, [this] {
    Answer = taTrust;
    accept();
  });
  connect(btnonce, &QPushButton::clicked, this, [this] {
    Answer = taOnce;
    accept();
  });
  connect(btncancel, &QPushButton::clicked, this, &TTrustForm::reject);
}

void TTrustForm::reject() {
  Answer = taCancel;
  QDialog::reject();
}

TTrustAnswer TDialogTrustPrompt::Ask(const TTrustQuestion& question) {
  auto show = [&question] {
    // The command that connects shows the busy cursor; the question needs the arrow.
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    TTrustForm form(question, QApplication::activeWindow());
    UiSeam().ExecDialog(form);
    QApplication::restoreOverrideCursor();
    return form.Answer;
  };
  if (!qApp) return taCancel;
  // From a command's worker: shown on the window thread, the worker waits.
  TTrustAnswer answer = taCancel;
  quorvel::RunOnGuiThread([&] { answer = show(); });
  return answer;
}
