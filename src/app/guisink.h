// LogError, LogInfo and Confirm in the windowed program: the seam's message
// boxes, plus the " ERR: " and " APP: " lines in the main window's pane.
// Safe to call from a worker thread: each call runs on the window thread and
// the worker waits for it (dialogs/busywork.h). A box opens above the modal
// dialog in front, if any, else above the main window.
#pragma once

#include <functional>
#include <string>

#include "store/messages.h"

class QWidget;

namespace quorvel {

class TGuiMessageSink : public TMessageSink {
 public:
  // `pane` receives each report line (already prefixed); may be empty while no
  // pane is registered. `parent` is the boxes' owner window (may be null).
  void SetPane(std::function<void(const std::string&)> pane) { pane_ = std::move(pane); }
  void SetParent(QWidget* parent) { parent_ = parent; }

  void Error(const std::string& text) override;
  void Info(const std::string& text) override;
  bool Ask(const std::string& text) override;
  bool AskBeforeDeleting(const std::string& text) override;
  // No box: the line " MSG: " + text in the pane.
  void Notice(const std::string& text) override;

 private:
  void Lines(const char* prefix, const std::string& text);
  QWidget* Owner() const;
  std::function<void(const std::string&)> pane_;
  QWidget* parent_ = nullptr;
};

}  // namespace quorvel
