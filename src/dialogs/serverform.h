// The modal dialog in which one directory server's connection details are
// typed or edited. It never touches the catalogue: the main window fills it,
// shows it and reads the fields and the Cancelled/Saved flags afterwards.
#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;

class TServerForm : public QDialog {
  Q_OBJECT
 public:
  explicit TServerForm(QWidget* parent = nullptr);

  QLineEdit* ed_name = nullptr;
  QLineEdit* ed_server = nullptr;
  QLineEdit* ed_port = nullptr;
  QCheckBox* ed_ssl = nullptr;
  QLineEdit* ed_basedn = nullptr;
  QLineEdit* ed_uid = nullptr;
  QLineEdit* ed_pwd = nullptr;
  QPushButton* btnsave = nullptr;
  QPushButton* btncancel = nullptr;
  QPushButton* btntest = nullptr;

  int Tag = 0;             // 0 for a new server, otherwise the id being edited
  bool Cancelled = false;  // set by Cancel
  bool Saved = false;      // set by Save when editing

  void btnsaveClick();
  void btncancelClick();
  void btntestClick();
  void ed_sslClick();

 protected:
  // Escape and the window manager's close request act as Cancel.
  void reject() override;

 private:
  // Tab goes through the fields and buttons as they are laid out.
  void TabOrder();
};
