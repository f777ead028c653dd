// Shared building blocks of the two property dialogs.
#pragma once

#include <QString>

class QDialog;
class QFormLayout;
class QLabel;
class QWidget;

namespace quorvel {

// A bold field label as both dialogs show them.
QLabel* BoldLabel(const QString& text, QWidget* parent);
// Fixed single border, no system buttons, centred on the screen when shown.
void MakeFixedDialog(QDialog& dialog);

}  // namespace quorvel
