#include "dialogs/formlayout.h"

#include <QDialog>
#include <QLabel>

namespace quorvel {

QLabel* BoldLabel(const QString& text, QWidget* parent, QWidget* buddy) {
  auto* label = new QLabel(text, parent);
  if (buddy) label->setBuddy(buddy);
  QFont f = label->font();
  f.setBold(true);
  label->setFont(f);
  return label;
}

void ChainTabOrder(std::initializer_list<QWidget*> widgets) {
  const QWidget* previous = nullptr;
  for (QWidget* w : widgets) {
    if (previous) QWidget::setTabOrder(const_cast<QWidget*>(previous), w);
    previous = w;
  }
}

void MakeFixedDialog(QDialog& dialog) {
  dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                        Qt::MSWindowsFixedSizeDialogHint);
  dialog.setModal(true);
}

}  // namespace quorvel
