#include "app/guisink.h"

#include <QApplication>
#include <QString>
#include <QWidget>

#include "dialogs/busywork.h"
#include "dialogs/uiseam.h"

namespace quorvel {

QWidget* TGuiMessageSink::Owner() const {
  // A box belongs to the modal dialog in front, if any, so that it opens
  // above it; otherwise to the main window.
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  return parent_;
}

void TGuiMessageSink::Lines(const char* prefix, const std::string& text) {
  if (!pane_) return;
  // A text holding line breaks becomes several lines in the pane; only the
  // first carries the prefix.
  std::string line = prefix;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      pane_(line);
      line.clear();
    } else {
      line.push_back(c);
    }
  }
  pane_(line);
}

// Each report is carried out whole on the window thread (the pane and the box
// are widgets); a worker that reports waits until the box is answered.
void TGuiMessageSink::Error(const std::string& text) {
  RunOnGuiThread([&] {
    Lines(" ERR: ", text);
    UiSeam().MessageBox(Owner(), TUiSeam::bkError, "Error", QString::fromStdString(text));
  });
}

void TGuiMessageSink::Info(const std::string& text) {
  RunOnGuiThread([&] {
    Lines(" APP: ", text);
    UiSeam().MessageBox(Owner(), TUiSeam::bkInformation, "Information",
                        QString::fromStdString(text));
  });
}

void TGuiMessageSink::Notice(const std::string& text) {
  // A progress line: queued for the window, the worker goes on at once.
  PostToGuiThread(parent_, [this, text] { Lines(" MSG: ", text); });
}

bool TGuiMessageSink::AskBeforeDeleting(const std::string& text) {
  return AnswerOnGuiThread(
      [&] { return UiSeam().QuestionDefaultNo(Owner(), "Confirm", QString::fromStdString(text)); });
}

bool TGuiMessageSink::Ask(const std::string& text) {
  return AnswerOnGuiThread([&] {
    return UiSeam().MessageBox(Owner(), TUiSeam::bkQuestion, "Confirm",
                               QString::fromStdString(text));
  });
}

}  // namespace quorvel
