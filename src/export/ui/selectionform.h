// The format-selection window: a list of the formats, "view only" or "export
// to file", and the Export and Cancel buttons.
#pragma once

#include <QDialog>

#include "export/kxexport.h"

class QComboBox;
class QGroupBox;
class QPushButton;
class QRadioButton;

namespace quorvel {
class TFormatPicture;
}

class Tfrm_Selection : public QDialog {
  Q_OBJECT
 public:
  explicit Tfrm_Selection(QWidget* parent = nullptr);

  // Shows the window modally for `engine`; the choices go straight into its
  // ExportType and ExportStyle. False when cancelled.
  bool Execute(TkxCustomExport& engine);
  // Prepares the window for `engine` without showing it (also used by tests).
  void Prepare(TkxCustomExport& engine);

  QGroupBox* GroupBox = nullptr;
  QComboBox* FormatList = nullptr;
  QRadioButton* rdo_View = nullptr;
  QRadioButton* rdo_File = nullptr;
  quorvel::TFormatPicture* Picture = nullptr;
  QPushButton* btn_Selection = nullptr;
  QPushButton* btn_Cancel = nullptr;

 private:
  void FormatChanged();
  TkxCustomExport* engine_ = nullptr;
};

namespace quorvel {
// Draws one of the nine format pictures (31 by 31) into its 40 by 40 area.
class TFormatPicture : public QWidget {
  Q_OBJECT
 public:
  explicit TFormatPicture(QWidget* parent) : QWidget(parent) {}
  void SetIndex(int index) {
    index_ = index;
    update();
  }
  int Index() const { return index_; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  int index_ = 0;
};
}  // namespace quorvel
