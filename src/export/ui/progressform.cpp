#include "export/ui/progressform.h"

#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>

Tfrm_ProgressForm::Tfrm_ProgressForm(QWidget* parent)
    : QWidget(parent,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint) {
  setObjectName("frm_ProgressForm");
  ProgressLabel = new QLabel(this);
  ProgressLabel->setObjectName("ProgressLabel");
  ProgressLabel->setTextFormat(Qt::PlainText);
  ProgressBar = new QProgressBar(this);
  ProgressBar->setObjectName("ProgressBar");
  ProgressBar->setTextVisible(false);
}

void Tfrm_ProgressForm::Start(const TkxMessagesOptions& m, int total) {
  setWindowTitle(QString::fromStdString(m.Caption));
  // The frame the window manager adds counts in the window's outer size; it is
  // known once the window is shown.
  show();
  const int frameH = frameGeometry().height() - geometry().height();
  const int frameW = frameGeometry().width() - geometry().width();
  const int windowH = m.Height;
  const int clientW = m.Width - frameW;
  const int clientH = windowH - frameH;
  setFixedSize(clientW, clientH);
  const int barH = 16;
  int barTop;
  if (!m.Text.empty()) {
    ProgressLabel->setText(QString::fromStdString(m.Text));
    ProgressLabel->adjustSize();
    ProgressLabel->move(8, 8);
    ProgressLabel->show();
    barTop = (windowH - clientH) + (clientH - ProgressLabel->height() - barH - 16) / 2;
  } else {
    ProgressLabel->hide();
    barTop = (windowH - barH - 16) / 2;
  }
  ProgressBar->setGeometry(8, barTop, clientW - 16, barH);
  ProgressBar->setRange(0, std::max(total, 0));
  ProgressBar->setValue(0);
  step_ = std::max(1, total / 100);
  last_ = 0;
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - QPoint(m.Width / 2, m.Height / 2));
  show();
  repaint();
}

void Tfrm_ProgressForm::SetPosition(int position) {
  // Repaint about a hundred times per run, not once per row.
  if (position - last_ < step_ && position != ProgressBar->maximum()) return;
  last_ = position;
  ProgressBar->setValue(position);
  ProgressBar->repaint();
}

void Tfrm_ProgressForm::Finish() {
  hide();
}
