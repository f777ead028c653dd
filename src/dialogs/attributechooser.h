// "Choose Attributes": the server's attribute types in a list to pick from,
// opened by the profile dialog's "Choose..." button.
//
// The list shows every attribute type (first name; other names, description,
// syntax and single or multiple values beside it), sorted by name without
// regard to case. The filter box keeps the types whose name, other names or
// description contain its text (case-blind); the class box keeps the
// attributes an object class allows, MUST and MAY, with those of its
// superclasses ("All attribute types" shows every type). Checked names are kept while
// the filter and class change. Texts from the server are shown as plain text.
//
//   TAttributeChooser dlg(schema, parent);
//   if (dlg.exec() == QDialog::Accepted) edit->AppendNames(dlg.Chosen());
#pragma once

#include <QDialog>
#include <QStringList>

#include "ldap/schema.h"

class QComboBox;
class QLineEdit;
class QTreeWidget;
class QPushButton;

class TAttributeChooser : public QDialog {
  Q_OBJECT
 public:
  TAttributeChooser(const quorvel::TSchema& schema, QWidget* parent = nullptr);

  QLineEdit* ed_search = nullptr;
  QComboBox* cb_class = nullptr;
  QTreeWidget* lv_attributes = nullptr;
  QPushButton* btnok = nullptr;
  QPushButton* btncancel = nullptr;

  // The checked names in the order the list shows them (all types, by name).
  QStringList Chosen() const;
  // The names the list shows now, in order.
  QStringList Shown() const;

 private:
  void Fill();
  void ApplyFilter();

  const quorvel::TSchema& schema_;
};

namespace quorvel {
// A syntax OID with its usual name ("1.3.6.1.4.1.1466.115.121.1.15 (Directory
// String)"); the OID alone when its name is not known.
QString SyntaxText(const std::string& oid);
}  // namespace quorvel
