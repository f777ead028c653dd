#include "export/ui/qtdesktop.h"

#include <QString>

#include "dialogs/uiseam.h"
#include "export/ui/progressform.h"
#include "export/ui/selectionform.h"

namespace {
QString Q(const std::string& s) {
  return QString::fromStdString(s);
}
}  // namespace

std::string QtFileFilter(const std::string& filter) {
  const auto bar = filter.find('|');
  if (bar == std::string::npos) return filter;
  std::string label = filter.substr(0, bar);
  const std::string pattern = filter.substr(bar + 1);
  const auto open = label.rfind(" (");
  if (open != std::string::npos && label.back() == ')') {
    const std::string inside = label.substr(open + 2, label.size() - open - 3);
    label = label.substr(0, open);
    if (inside != pattern) return label + " (" + inside + " " + pattern + ")";
    return label + " (" + inside + ")";
  }
  return label + " (" + pattern + ")";
}

TkxQtExportDesktop::TkxQtExportDesktop(QWidget* parent)
    : parent_(parent),
      selection_(std::make_unique<Tfrm_Selection>(parent)),
      progress_(std::make_unique<Tfrm_ProgressForm>(parent)) {}

TkxQtExportDesktop::~TkxQtExportDesktop() = default;

bool TkxQtExportDesktop::SelectFormat(TkxCustomExport& engine) {
  return selection_->Execute(engine);
}

std::string TkxQtExportDesktop::SaveFileName(const std::string& title, const std::string& filter,
                                             const std::string& defaultExt,
                                             const std::string& initialDir) {
  return UiSeam()
      .SaveFileName(parent_, Q(title), Q(QtFileFilter(filter)), Q(defaultExt).toLower(),
                    Q(initialDir))
      .toStdString();
}

bool TkxQtExportDesktop::SetClipboardText(std::string text) {
  return UiSeam().SetClipboardText(Q(text));
}

bool TkxQtExportDesktop::OpenFile(const std::string& path) {
  return UiSeam().OpenUrl(Q(path));
}

void TkxQtExportDesktop::ShowProgress(const TkxMessagesOptions& messages, int total) {
  progress_->Start(messages, total);
}

void TkxQtExportDesktop::SetProgress(int position) {
  progress_->SetPosition(position);
}

void TkxQtExportDesktop::HideProgress() {
  progress_->Finish();
}

void TkxQtExportDesktop::Information(const std::string& title, const std::string& text) {
  UiSeam().MessageBox(parent_, TUiSeam::bkInformation, Q(title), Q(text));
}

void TkxQtExportDesktop::ErrorBox(const std::string& title, const std::string& text) {
  UiSeam().MessageBox(parent_, TUiSeam::bkError, Q(title), Q(text));
}
