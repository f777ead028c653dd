// The profile dialog's attribute list: a text box of names separated by ";"
// that completes the name being typed from the server's schema.
//
// The name being typed is the text between the last ";" before the cursor
// and the cursor, leading blanks left out. While it is not empty and some
// known name starts with it (without regard to case; every alias of a type
// is a name of its own), a popup lists those names; Enter, Tab or a click
// puts the chosen one in its place, Escape closes the popup, typing goes on
// narrowing it. Without names (no schema) it is a plain text box.
//
//   auto* ed = new TAttributeListEdit(parent);
//   ed->SetNames({"cn", "commonName", "mail"});
#pragma once

#include <QPlainTextEdit>
#include <QStringList>

class QCompleter;
class QStringListModel;

class TAttributeListEdit : public QPlainTextEdit {
  Q_OBJECT
 public:
  explicit TAttributeListEdit(QWidget* parent = nullptr);

  // The names offered, sorted case-blind (as TSchema::Complete gives them).
  void SetNames(const QStringList& names);
  QCompleter* Completer() const { return completer_; }
  // The name being typed (see above).
  QString CurrentWord() const;
  // Appends names not in the list yet, each after a ";", in their order.
  void AppendNames(const QStringList& names);

 protected:
  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;

 private:
  void UpdatePopup();
  void InsertCompletion(const QString& name);

  QCompleter* completer_ = nullptr;
  QStringListModel* model_ = nullptr;
};
