// The modal dialog in which one search profile is typed or edited. Like the
// server dialog it never touches the catalogue.
//
// With the server's schema (SetSchema, before the dialog is shown) the
// attribute list completes names as they are typed, "Choose..." opens the
// list of the server's attribute types, and Save names the attribute names
// (of the list and of the filter) that the schema does not know in one
// question, with the nearest known name, before it closes; the user may save
// anyway. Without a schema nothing is checked and "Choose..." is disabled.
// The filter is checked while it is typed, schema or not: a problem shows
// under the field (lb_filter), and Save stays allowed.
#pragma once

#include <QDialog>
#include <memory>
#include <string>

#include "dialogs/attributelistedit.h"
#include "ldap/schema.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QLabel;
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
  // What is wrong with the filter (empty when nothing), under the field.
  QLabel* lb_filter = nullptr;
  TAttributeListEdit* ed_att = nullptr;
  QPushButton* btnchoose = nullptr;
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
  void btnchooseClick();

  // The schema of the profile's server and its name as the findings name it
  // ("Test directory"); nullptr: none (nothing is checked).
  void SetSchema(std::shared_ptr<const quorvel::TSchema> schema, const std::string& serverName);
  const quorvel::TSchema* Schema() const { return schema_.get(); }
  // The findings Save would ask about: unknown names of the list, then of the filter.
  std::vector<std::string> NameFindings() const;

 protected:
  void reject() override;

 private:
  // The constructor's steps: the fields, the buttons, then their layout.
  void MakeFields();
  void MakeButtons();
  void LayOut();
  // Tab goes through the fields and buttons as they are laid out.
  void TabOrder();
  void CheckFilterText();
  // True when Save may close: no unknown names, or the user saves anyway.
  bool NamesAccepted();

  std::shared_ptr<const quorvel::TSchema> schema_;
  std::string serverName_;
};
