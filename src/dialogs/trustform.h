// The window that asks about a server certificate that failed verification,
// and the windowed program's TTrustPrompt that shows it.
//
// Unknown certificate: title "Certificate not trusted", the server, the
// reasons in plain words (every verification failure), subject, issuer, the
// names it is issued for (subject alternative names), validity and SHA-256
// fingerprint; all of it shown as plain text.
// Trusted certificate expired since: title "Certificate expired", its end
// date and what to do, then the same details.
// Changed certificate: title "Certificate changed", a warning that the
// connection may be intercepted and both fingerprints. Either way three
// buttons: "Trust and connect" (remembered; disabled for a server not stored
// yet), "Connect this time only" and "Cancel", the default: Enter, Escape and
// closing the window all cancel.
//
// TDialogTrustPrompt::Ask may be called from any thread: off the GUI thread
// it runs the window on the GUI thread (blocking queued call) and waits for
// the answer. The window goes through UiSeam().ExecDialog, so tests answer it.
#pragma once

#include <QDialog>
#include <QString>

#include "store/trust.h"

class QLabel;
class QPushButton;

class TTrustForm : public QDialog {
  Q_OBJECT
 public:
  explicit TTrustForm(const TTrustQuestion& question, QWidget* parent = nullptr);

  QLabel* lbl_text = nullptr;
  QPushButton* btntrust = nullptr;
  QPushButton* btnonce = nullptr;
  QPushButton* btncancel = nullptr;
  // The user's choice; taCancel until a button says otherwise.
  TTrustAnswer Answer = taCancel;

 protected:
  void reject() override;
};

class TDialogTrustPrompt : public TTrustPrompt {
 public:
  TTrustAnswer Ask(const TTrustQuestion& question) override;
};

namespace quorvel {
// The window's text for a question.
QString TrustQuestionText(const TTrustQuestion& question);
}  // namespace quorvel
