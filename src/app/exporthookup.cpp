#include "app/exporthookup.h"

#include <QDir>

#include "app/gridmodel.h"
#include "app/mainform.h"
#include "export/kxexport.h"
#include "export/output.h"
#include "export/textcodec.h"
#include "export/ui/gridsource.h"
#include "export/ui/qtdesktop.h"
#include "store/filelocations.h"
#include "store/messages.h"

namespace quorvel {

namespace {
// "CSV" for ".../people.csv"; "such" when the name has no extension.
std::string ExtensionOf(const std::string& path) {
  const std::string_view ext = FileExtension(path);
  return ext.empty() ? "such" : AsciiUpper(ext);
}
}  // namespace

struct TExportHookup::Impl {
  Impl(TMainForm& f) : form(f), desktop(&f), source(f.grid, nullptr) {}
  TMainForm& form;
  TkxQtExportDesktop desktop;
  TkxGridRowSource source;
  TkxDBGridExport engine;
  bool failed = false;
};

TExportHookup::TExportHookup(TMainForm& form, const std::string& appPath)
    : impl_(std::make_unique<Impl>(form)) {
  TkxDBGridExport& e = impl_->engine;
  ConfigureReportExport(e, appPath);
  // Viewed reports go to the folder of the user's files; an installed
  // program's save dialog starts in the home folder, not the install tree.
  e.SetTempDir(Files.temp.empty() ? appPath + "data/" : Files.temp);
  if (!Files.temp.empty() && !Files.portable) e.InitialDir = QDir::homePath().toStdString() + "/";
  e.SetDesktop(&impl_->desktop);
  e.DBGrid = &impl_->source;
  // Failures are reported once the run is over, with the file and the reason.
  e.OnError = [this](TkxCustomExport&, TkxExportError error) {
    if (error != xeUserCancelled) impl_->failed = true;
  };
}

TExportHookup::~TExportHookup() = default;

TkxDBGridExport& TExportHookup::Engine() {
  return impl_->engine;
}

bool TExportHookup::ReportedFailure() {
  TkxDBGridExport& e = impl_->engine;
  const TkxRunResult& r = e.LastRun();
  if (r.Result != TkxRunResult::roFailed && (!impl_->failed || r.Result == TkxRunResult::roDone))
    return false;
  const std::string target = r.Destination.empty() ? e.FileName : r.Destination;
  LogError("Error exporting the report" +
           (target.empty() ? std::string() : " to \"" + target + "\"") + ": " +
           (r.Message.empty() ? std::string("the report could not be written.") : r.Message));
  return true;
}

void TExportHookup::CopyToClipboard() {
  TkxDBGridExport& e = impl_->engine;
  impl_->source.SetDataset(impl_->form.gridModel->Dataset());
  impl_->failed = false;
  // The clipboard format without the selection window. The format and style
  // chosen for "Export Report" stay as they were; no file name is needed.
  const TkxExportType type = e.ExportType;
  const TkxExportStyle style = e.ExportStyle;
  e.ExportType = xtClipboard;
  e.ExportStyle = xsView;
  e.ExportToTarget();
  e.ExportType = type;
  e.ExportStyle = style;
  ReportedFailure();
}

void TExportHookup::Run() {
  TkxDBGridExport& e = impl_->engine;
  impl_->source.SetDataset(impl_->form.gridModel->Dataset());
  impl_->failed = false;
  e.RunExportDialog();
  const TkxRunResult& r = e.LastRun();
  if (ReportedFailure()) {
    // The engine reuses a chosen name without asking again; after a failure the
    // next export asks anew, so a bad destination does not trap the user.
    e.FileName.clear();
    return;
  }
  if (r.Result != TkxRunResult::roDone) return;  // cancelled: nothing to say
  // The file actually written: the chosen name with the format's extension, or
  // the temporary file of "View only". The clipboard has none; its line keeps
  // the chosen name.
  const std::string written = r.Destination.empty() ? e.FileName : r.Destination;
  impl_->form.AddMessage(0, "MSG: Exported successfuly to \"" + written + "\"");
  if (const std::string notice = ReplacedCharactersNotice(r); !notice.empty())
    impl_->form.AddMessage(1, "MSG: " + notice);
  impl_->form.FlushPane();
  if (r.ViewFailed)
    LogError("The report was written to \"" + written +
             "\", but it could not be opened for viewing: no application is set up on this "
             "desktop to open " +
             ExtensionOf(written) +
             " files. Open the file yourself, or "
             "choose \"Export to file\".");
}

}  // namespace quorvel
