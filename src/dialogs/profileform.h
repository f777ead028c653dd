// The modal dialog in which one search profile is typed or edited. Like the
// server dialog it never touches the catalogue.
#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class TProfileForm : public QDialog {
  Q_OBJECT
 public:
  explicit TProfileForm(QWidget* parent = nullptr);

  QLineEdit* ed_server = nullptr;
  QLineEdit* ed_name = nullptr;
  QLineEdit* ed_base = nullptr;
  QComboBox* cb_scope = nullptr;
  QLineEdit* ed_filter = nullptr;
  QPlainTextEdit* ed_att = nullptr;
  // Directory values in their readable forms (on for a new profile).
  QCheckBox* ed_readable = nullptr;
  QPushButton* btnsave = nullptr;
  QPushButton* btncancel = nullptr;
  QPushButton* btnrun = nullptr;

  int Tag = 0;
  bool Cancelled = false;
  bool Saved = false;

  void btnsaveClick();
  void btncancelClick();

 protected:
  void reject() override;

 private:
  // Tab goes through the fields and buttons as they are laid out.
  void TabOrder();
};
