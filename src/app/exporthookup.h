// The main window's side of the export engine: configures it once, binds it
// to the results grid and runs "Export Report".
#pragma once

#include <memory>
#include <string>

class TMainForm;

namespace quorvel {

class TExportHookup {
 public:
  TExportHookup(TMainForm& form, const std::string& tempDir);
  ~TExportHookup();
  // Asks for a format and a destination, writes the report and posts the outcome.
  void Run();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quorvel
