#include "dialogs/uiseam.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

namespace {
TDesktopSeam g_desktop;
TUiSeam* g_seam = nullptr;
}  // namespace

bool TDesktopSeam::MessageBox(QWidget* parent, BoxKind kind, const QString& title,
                              const QString& text) {
  QMessageBox box(parent);
  box.setWindowTitle(title);
  box.setText(text);
  switch (kind) {
    case bkError:
      box.setIcon(QMessageBox::Critical);
      break;
    case bkInformation:
      box.setIcon(QMessageBox::Information);
      break;
    case bkWarning:
      box.setIcon(QMessageBox::Warning);
      break;
    case bkQuestion:
      box.setIcon(QMessageBox::Question);
      break;
    case bkPlain:
      box.setIcon(QMessageBox::NoIcon);
      break;
  }
  if (kind == bkQuestion) {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
  }
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
  return true;
}

QString TDesktopSeam::SaveFileName(QWidget* parent, const QString& title, const QString& filter,
                                   const QString& defaultExt, const QString& initialDir) {
  QFileDialog dlg(parent, title, initialDir, filter);
  dlg.setAcceptMode(QFileDialog::AcceptSave);
  dlg.setDefaultSuffix(defaultExt);
  if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return QString();
  return dlg.selectedFiles().first();
}

bool TDesktopSeam::SetClipboardText(const QString& text) {
  QClipboard* cb = QApplication::clipboard();
  if (!cb) return false;
  cb->clear();
  cb->setText(text);
  return true;
}

bool TDesktopSeam::OpenUrl(const QString& urlOrPath) {
  QUrl url = QFileInfo::exists(urlOrPath) ? QUrl::fromLocalFile(urlOrPath) : QUrl(urlOrPath);
  return QDesktopServices::openUrl(url);
}

int TUiSeam::ExecDialog(QDialog& dialog) {
  return dialog.exec();
}

TUiSeam& UiSeam() {
  return g_seam ? *g_seam : g_desktop;
}

TUiSeam* SetUiSeam(TUiSeam* seam) {
  TUiSeam* old = g_seam;
  g_seam = seam;
  return old;
}
