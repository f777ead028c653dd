// A seam for GUI tests: records every message box, answers the questions,
// hands each modal dialog to the next queued handler, and records URLs.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "dialogs/uiseam.h"

namespace quorvel::test {

struct TRecordedBox {
  TUiSeam::BoxKind kind;
  QString title;
  QString text;
};

class TTestSeam : public TUiSeam {
 public:
  TTestSeam() { previous_ = SetUiSeam(this); }
  ~TTestSeam() override { SetUiSeam(previous_); }

  std::vector<TRecordedBox> boxes;
  std::deque<bool> answers;   // answers to the next questions, in order
  bool defaultAnswer = true;  // when no answer is queued
  // What to do with the next modal dialogs; with none queued a dialog is cancelled.
  std::deque<std::function<void(QDialog&)>> dialogs;
  int dialogsShown = 0;
  bool openUrlResult = true;
  QStringList openedUrls;
  std::deque<QString> saveNames;
  QString clipboard;

  bool MessageBox(QWidget*, BoxKind kind, const QString& title, const QString& text) override {
    boxes.push_back({kind, title, text});
    if (kind != bkQuestion) return true;
    if (answers.empty()) return defaultAnswer;
    bool a = answers.front();
    answers.pop_front();
    return a;
  }
  QString SaveFileName(QWidget*, const QString&, const QString&, const QString&,
                       const QString&) override {
    if (saveNames.empty()) return QString();
    QString s = saveNames.front();
    saveNames.pop_front();
    return s;
  }
  bool SetClipboardText(const QString& text) override {
    clipboard = text;
    return true;
  }
  bool OpenUrl(const QString& url) override {
    openedUrls.append(url);
    return openUrlResult;
  }
  int ExecDialog(QDialog& dialog) override {
    ++dialogsShown;
    if (dialogs.empty()) {
      dialog.reject();
    } else {
      auto handler = std::move(dialogs.front());
      dialogs.pop_front();
      handler(dialog);
    }
    return dialog.result();
  }

  // The texts of the boxes of one kind, in order.
  QStringList Texts(BoxKind kind) const {
    QStringList out;
    for (const auto& b : boxes)
      if (b.kind == kind) out.append(b.text);
    return out;
  }
  QStringList Errors() const { return Texts(bkError); }
  QStringList Infos() const { return Texts(bkInformation); }
  void Clear() { boxes.clear(); }

 private:
  TUiSeam* previous_ = nullptr;
};

}  // namespace quorvel::test
