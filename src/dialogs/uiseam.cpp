#include "dialogs/uiseam.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>
#include <QWidget>
#include <vector>

#include "dialogs/busywork.h"

namespace {
TDesktopSeam g_desktop;
TUiSeam* g_seam = nullptr;

TUiSeam& InstalledSeam() {
  return g_seam ? *g_seam : g_desktop;
}

// What UiSeam() hands to a worker thread: every call is carried out by the
// installed seam on the window thread, and the worker waits for the answer.
// A call added to TUiSeam is forwarded here too, the same way.
class TGuiThreadSeam : public TUiSeam {
 public:
  bool MessageBox(QWidget* parent, BoxKind kind, const QString& title,
                  const QString& text) override {
    return quorvel::AnswerOnGuiThread(
        [&] { return InstalledSeam().MessageBox(parent, kind, title, text); });
  }
  QString SaveFileName(QWidget* parent, const QString& title, const QString& filter,
                       const QString& defaultExt, const QString& initialDir) override {
    return quorvel::AnswerOnGuiThread([&] {
      return InstalledSeam().SaveFileName(parent, title, filter, defaultExt, initialDir);
    });
  }
  bool SetClipboardText(const QString& text) override {
    return quorvel::AnswerOnGuiThread([&] { return InstalledSeam().SetClipboardText(text); });
  }
  bool OpenUrl(const QString& urlOrPath) override {
    return quorvel::AnswerOnGuiThread([&] { return InstalledSeam().OpenUrl(urlOrPath); });
  }
  int ExecDialog(QDialog& dialog) override {
    return quorvel::AnswerOnGuiThread([&] { return InstalledSeam().ExecDialog(dialog); });
  }
};
TGuiThreadSeam g_marshal;

// A stay-on-top splash window would cover a box opened while it is up; it
// steps aside for as long as the box is open.
class TSplashAside {
 public:
  TSplashAside() {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->isVisible() && w->windowType() == Qt::SplashScreen) {
        w->hide();
        hidden_.push_back(w);
      }
  }
  ~TSplashAside() {
    for (QWidget* w : hidden_) {
      w->show();
      w->repaint();
    }
  }

 private:
  std::vector<QWidget*> hidden_;
};

// Every box of the desktop seam; a question's default button (the answer to
// Enter) is `question_default`.
bool ShowBox(QWidget* parent, TUiSeam::BoxKind kind, const QString& title, const QString& text,
             QMessageBox::StandardButton question_default) {
  using enum TUiSeam::BoxKind;
  TSplashAside aside;
  QMessageBox box(parent);
  box.setWindowTitle(title);
  // Messages carry servers' texts, entries' names and file paths.
  box.setTextFormat(Qt::PlainText);
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
    box.setDefaultButton(question_default);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
  }
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
  return true;
}

}  // namespace

bool TDesktopSeam::MessageBox(QWidget* parent, BoxKind kind, const QString& title,
                              const QString& text) {
  // Enter answers Yes: the question follows a command the user just gave
  // (Ctrl+Q then Enter exits, F5 then Enter runs); Escape and No decline.
  return ShowBox(parent, kind, title, text, QMessageBox::Yes);
}

bool TDesktopSeam::QuestionDefaultNo(QWidget* parent, const QString& title, const QString& text) {
  return ShowBox(parent, bkQuestion, title, text, QMessageBox::No);
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
  if (!quorvel::OnGuiThread()) return g_marshal;
  return InstalledSeam();
}

TUiSeam* SetUiSeam(TUiSeam* seam) {
  TUiSeam* old = g_seam;
  g_seam = seam;
  return old;
}
