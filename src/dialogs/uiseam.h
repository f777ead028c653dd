// The one seam through which the windowed program meets the desktop: message
// boxes, the save-file dialog, the clipboard and the shell. The program uses
// TDesktopSeam; GUI tests install their own seam to answer and record.
//
// Every call may come from a worker thread (see dialogs/busywork.h): UiSeam()
// called there returns a stand-in that carries each call out on the window
// thread through the installed seam and waits for its answer, so a seam's
// own code, the tests' included, always runs on the window thread. A call
// added to TUiSeam gets its forwarder in that stand-in (uiseam.cpp) as well.
#pragma once

#include <QString>
#include <QStringList>

class QDialog;
class QWidget;

class TUiSeam {
 public:
  enum BoxKind { bkError, bkInformation, bkWarning, bkQuestion, bkPlain };
  virtual ~TUiSeam() = default;

  // A modal message box. For bkQuestion the buttons are Yes and No and the
  // result is true for Yes (the default button; Escape answers No); every
  // other kind has one OK button and returns true.
  virtual bool MessageBox(QWidget* parent, BoxKind kind, const QString& title,
                          const QString& text) = 0;
  // A bkQuestion box whose default button is No, for questions before a
  // deletion; this default asks through MessageBox, so a seam that answers
  // questions answers this one too.
  virtual bool QuestionDefaultNo(QWidget* parent, const QString& title, const QString& text) {
    return MessageBox(parent, bkQuestion, title, text);
  }
  // The save-file dialog; returns the chosen path, or an empty text when cancelled.
  virtual QString SaveFileName(QWidget* parent, const QString& title, const QString& filter,
                               const QString& defaultExt, const QString& initialDir) = 0;
  // Replaces the clipboard's content with one plain text; false on failure.
  virtual bool SetClipboardText(const QString& text) = 0;
  // Opens a web address or a local file with the desktop's default application.
  virtual bool OpenUrl(const QString& urlOrPath) = 0;
  // Shows a modal dialog and returns its result (QDialog::Accepted or Rejected).
  // Tests override it to fill the dialog's fields and press its buttons.
  virtual int ExecDialog(QDialog& dialog);
};

class TDesktopSeam : public TUiSeam {
 public:
  bool MessageBox(QWidget* parent, BoxKind kind, const QString& title,
                  const QString& text) override;
  bool QuestionDefaultNo(QWidget* parent, const QString& title, const QString& text) override;
  QString SaveFileName(QWidget* parent, const QString& title, const QString& filter,
                       const QString& defaultExt, const QString& initialDir) override;
  bool SetClipboardText(const QString& text) override;
  bool OpenUrl(const QString& urlOrPath) override;
};

// The seam in use (never null; a TDesktopSeam until one is installed). On a
// worker thread: the stand-in described at the top.
TUiSeam& UiSeam();
// Installs a seam (not owned); nullptr restores the desktop seam. Returns the previous one.
TUiSeam* SetUiSeam(TUiSeam* seam);
