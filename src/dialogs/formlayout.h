// Shared building blocks of the two property dialogs.
#pragma once

#include <QString>
#include <initializer_list>

class QDialog;
class QFormLayout;
class QLabel;
class QWidget;

namespace quorvel {

// A bold field label as both dialogs show them. With a buddy, the label's
// mnemonic focuses that field and a screen reader names the field by it.
QLabel* BoldLabel(const QString& text, QWidget* parent, QWidget* buddy = nullptr);
// Tab goes through the widgets in the order given (their visual order), and
// Shift+Tab back.
void ChainTabOrder(std::initializer_list<QWidget*> widgets);
// Fixed single border, no system buttons, centred on the screen when shown.
void MakeFixedDialog(QDialog& dialog);

}  // namespace quorvel
