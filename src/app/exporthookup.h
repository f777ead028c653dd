// The main window's side of the export engine: configures it once, binds it
// to the results grid and runs "Export Report", then tells the user how it went.
#pragma once

#include <memory>
#include <string>

class TMainForm;
class TkxDBGridExport;

namespace quorvel {

class TExportHookup {
 public:
  TExportHookup(TMainForm& form, const std::string& appPath);
  ~TExportHookup();
  // Asks for a format and a destination, writes the report and posts the outcome:
  // nothing after a cancel, an error naming the file and the reason after a
  // failure, the success line only once the file or clipboard was written.
  void Run();
  // Ctrl+C: the results as the clipboard format writes them, without asking
  // anything; a failure is reported as for Run.
  void CopyToClipboard();
  TkxDBGridExport& Engine();

 private:
  // Reports a failed last run (LogError naming the file and the reason); false
  // when it did not fail.
  bool ReportedFailure();
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quorvel
