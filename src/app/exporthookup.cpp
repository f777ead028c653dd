#include "app/exporthookup.h"

#include "app/mainform.h"
#include "store/messages.h"

namespace quorvel {

struct TExportHookup::Impl {
  TMainForm& form;
  std::string tempDir;
};

TExportHookup::TExportHookup(TMainForm& form, const std::string& tempDir)
    : impl_(std::make_unique<Impl>(Impl{form, tempDir})) {}

TExportHookup::~TExportHookup() = default;

void TExportHookup::Run() {
  LogError("The report export is not available in this build.");
}

}  // namespace quorvel
