#include "report/streamedreport.h"

#include <exception>

namespace quorvel {

TStreamedReport::TStreamedReport(const std::vector<std::string>& columns, const std::string& path,
                                 const std::function<void(TkxDBGridExport&)>& configure)
    : rows_(ResultTableColumns(columns)) {
  configure(engine_);
  engine_.SetDesktop(&desktop_);
  engine_.DBGrid = &rows_;
  try {
    writer_ = std::thread([this, path] {
      const bool ok = engine_.ExportToPath(path);
      written_ = ok && engine_.LastRun().Result == TkxRunResult::roDone;
      rows_.Close();
    });
  } catch (const std::exception&) {
    givenUp_ = true;
  }
}

TStreamedReport::~TStreamedReport() {
  GiveUp();
}

void TStreamedReport::Row(const std::vector<std::string>& cells) {
  if (givenUp_) return;
  // The stored rows are read back in DN order (octet by octet, ties in the
  // order stored): a row that sorts before the last one goes elsewhere there.
  static const std::string kNone;
  const std::string& dn = cells.empty() ? kNone : cells[0];
  if (dn < lastDN_ || !rows_.Put(cells)) {
    GiveUp();
    return;
  }
  lastDN_.assign(dn);
}

void TStreamedReport::Restart() {
  GiveUp();
}

void TStreamedReport::GiveUp() {
  if (!givenUp_) {
    givenUp_ = true;
    rows_.Abandon();
  }
  Join();
}

void TStreamedReport::Join() {
  if (writer_.joinable()) writer_.join();
}

bool TStreamedReport::Finish() {
  if (givenUp_) {
    Join();
    return false;
  }
  rows_.End();
  Join();
  if (!written_) givenUp_ = true;
  return written_;
}

}  // namespace quorvel
