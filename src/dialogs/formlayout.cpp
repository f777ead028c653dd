#include "dialogs/formlayout.h"

#include <QDialog>
#include <QLabel>

namespace quorvel {

QLabel* BoldLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  QFont f = label->font();
  f.setBold(true);
  label->setFont(f);
  return label;
}

void MakeFixedDialog(QDialog& dialog) {
  dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                        Qt::MSWindowsFixedSizeDialogHint);
  dialog.setModal(true);
}

}  // namespace quorvel
