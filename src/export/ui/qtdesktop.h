// The desktop of the windowed program for the export engine: the selection
// and progress windows, and the save dialog, clipboard, shell and message
// boxes through the program's UI seam.
#pragma once

#include <memory>

#include "export/kxexport.h"

class QWidget;
class Tfrm_Selection;
class Tfrm_ProgressForm;

class TkxQtExportDesktop : public TkxExportDesktop {
 public:
  // `parent` (not owned) parents the dialogs and message boxes.
  explicit TkxQtExportDesktop(QWidget* parent = nullptr);
  ~TkxQtExportDesktop() override;

  bool SelectFormat(TkxCustomExport& engine) override;
  std::string SaveFileName(const std::string& title, const std::string& filter,
                           const std::string& defaultExt, const std::string& initialDir) override;
  bool SetClipboardText(std::string text) override;
  bool OpenFile(const std::string& path) override;
  void ShowProgress(const TkxMessagesOptions& messages, int total) override;
  void SetProgress(int position) override;
  void HideProgress() override;
  void Information(const std::string& title, const std::string& text) override;
  void ErrorBox(const std::string& title, const std::string& text) override;

  Tfrm_Selection& Selection() { return *selection_; }
  Tfrm_ProgressForm& Progress() { return *progress_; }

 private:
  QWidget* parent_;
  std::unique_ptr<Tfrm_Selection> selection_;
  std::unique_ptr<Tfrm_ProgressForm> progress_;
};

// The save dialog's filter in the toolkit's form: "label|pattern" becomes
// "label (*.ext *.EXT)" so that both spellings of the extension are shown.
std::string QtFileFilter(const std::string& filter);
