// The small window that asks for a server's bind password when connecting
// (a server whose password is "Ask when connecting", store/secrets.h).
//
// It names the server and the bind DN (as plain text), takes the password in
// a field that shows "*" per character, and offers "Remember until Quorvel
// exits" (kept in memory only, by the caller). OK is the default button;
// Cancel, Escape and closing the window cancel. The window goes through
// UiSeam().ExecDialog, so tests fill it and press its buttons.
//
//   std::string pw;
//   bool remember = false;
//   if (!quorvel::AskPassword(this, "Directory", record, pw, &remember)) ... cancelled
#pragma once

#include <QDialog>
#include <string>

#include "store/nodedata.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

class TPasswordForm : public QDialog {
  Q_OBJECT
 public:
  // withRemember false hides the "Remember until Quorvel exits" box.
  TPasswordForm(QWidget* parent, const std::string& serverName, const TServerNodeData& server,
                bool withRemember);
  ~TPasswordForm() override;

  QLabel* lb_prompt = nullptr;
  QLineEdit* ed_password = nullptr;
  QCheckBox* cb_remember = nullptr;
  QPushButton* btnok = nullptr;
  QPushButton* btncancel = nullptr;
};

namespace quorvel {
// Shows the window on the window thread (the caller's); true with the typed
// password when OK was pressed, false when cancelled. `remember` (may be
// nullptr: no box) receives the box's state.
bool AskPassword(QWidget* parent, const std::string& serverName, const TServerNodeData& server,
                 std::string& password, bool* remember);
}  // namespace quorvel
