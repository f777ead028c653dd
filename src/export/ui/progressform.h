// The progress window shown while a report is written: a label and a bar; it
// has no cancel button.
#pragma once

#include <QWidget>

#include "export/kxtypes.h"

class QLabel;
class QProgressBar;

class Tfrm_ProgressForm : public QWidget {
  Q_OBJECT
 public:
  explicit Tfrm_ProgressForm(QWidget* parent = nullptr);

  // Lays the window out for a run of `total` rows and shows it.
  void Start(const TkxMessagesOptions& messages, int total);
  void SetPosition(int position);
  void Finish();

  QLabel* ProgressLabel = nullptr;
  QProgressBar* ProgressBar = nullptr;

 private:
  int step_ = 1;
  int last_ = 0;
};
