#include "dialogs/attributelistedit.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QKeyEvent>
#include <QScrollBar>
#include <QStringListModel>
#include <QTextBlock>

TAttributeListEdit::TAttributeListEdit(QWidget* parent) : QPlainTextEdit(parent) {
  model_ = new QStringListModel(this);
  completer_ = new QCompleter(model_, this);
  completer_->setWidget(this);
  completer_->setCaseSensitivity(Qt::CaseInsensitive);
  completer_->setCompletionMode(QCompleter::PopupCompletion);
  completer_->setModelSorting(QCompleter::CaseInsensitivelySortedModel);
  completer_->popup()->setObjectName("attributeCompletions");
  completer_->popup()->setAccessibleName("Attribute names");
  connect(completer_, qOverload<const QString&>(&QCompleter::activated), this,
          &TAttributeListEdit::InsertCompletion);
}

void TAttributeListEdit::SetNames(const QStringList& names) {
  model_->setStringList(names);
}

QString TAttributeListEdit::CurrentWord() const {
  const QString text = toPlainText().left(textCursor().position());
  const qsizetype semicolon = text.lastIndexOf(';');
  QString word = text.mid(semicolon + 1);
  qsizetype lead = 0;
  while (lead < word.size() && word[lead].isSpace()) ++lead;
  return word.mid(lead);
}

void TAttributeListEdit::AppendNames(const QStringList& names) {
  QStringList present;
  for (const QString& piece : toPlainText().split(';')) present << piece.trimmed().toLower();
  QString text = toPlainText();
  for (const QString& n : names) {
    if (present.contains(n.toLower())) continue;
    present << n.toLower();
    if (!text.trimmed().isEmpty() && !text.trimmed().endsWith(';')) text += ';';
    text += n;
  }
  setPlainText(text);
  moveCursor(QTextCursor::End);
}

void TAttributeListEdit::UpdatePopup() {
  const QString word = CurrentWord();
  if (word.isEmpty() || model_->rowCount() == 0) {
    completer_->popup()->hide();
    return;
  }
  completer_->setCompletionPrefix(word);
  if (completer_->completionCount() == 0 ||
      (completer_->completionCount() == 1 &&
       completer_->currentCompletion().compare(word, Qt::CaseInsensitive) == 0 &&
       completer_->currentCompletion() == word)) {
    completer_->popup()->hide();
    return;
  }
  completer_->popup()->setCurrentIndex(completer_->completionModel()->index(0, 0));
  QRect r = cursorRect();
  r.setWidth(completer_->popup()->sizeHintForColumn(0) +
             completer_->popup()->verticalScrollBar()->sizeHint().width() + 8);
  completer_->complete(r);
}

void TAttributeListEdit::InsertCompletion(const QString& name) {
  const QString word = CurrentWord();
  QTextCursor c = textCursor();
  c.movePosition(QTextCursor::Left, QTextCursor::KeepAnchor, static_cast<int>(word.size()));
  c.insertText(name);
  setTextCursor(c);
  completer_->popup()->hide();
}

bool TAttributeListEdit::event(QEvent* event) {
  // Tab would move the focus before keyPressEvent saw it: with the popup
  // open it takes the highlighted name instead.
  if (event->type() == QEvent::KeyPress && completer_->popup()->isVisible()) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Tab && key->modifiers() == Qt::NoModifier) {
      const QModelIndex i = completer_->popup()->currentIndex();
      InsertCompletion(i.isValid() ? i.data().toString() : completer_->currentCompletion());
      return true;
    }
  }
  return QPlainTextEdit::event(event);
}

void TAttributeListEdit::keyPressEvent(QKeyEvent* event) {
  if (completer_->popup()->isVisible()) {
    switch (event->key()) {
      case Qt::Key_Enter:
      case Qt::Key_Return:
      case Qt::Key_Escape:
      case Qt::Key_Backtab:
        // The popup's own keys: the completer chooses (activated) or closes.
        event->ignore();
        return;
      default:
        break;
    }
  }
  QPlainTextEdit::keyPressEvent(event);
  // Only what the user types opens the popup, not text set by the caller.
  const QString typed = event->text();
  if (event->key() == Qt::Key_Backspace || (!typed.isEmpty() && typed[0].isPrint())) UpdatePopup();
}

void TAttributeListEdit::focusInEvent(QFocusEvent* event) {
  completer_->setWidget(this);
  QPlainTextEdit::focusInEvent(event);
}
