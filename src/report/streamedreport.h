// A CSV report written while the search runs, from the rows as the run
// stores them, as long as they arrive in the report's order (by DN, as the
// stored rows are read back). The report is then whole once the last entry
// is stored, instead of being read back from the working store and written
// after the search. Its writer runs on a thread of its own and takes the
// rows in batches (export/handedrows.h), so the rows on their way stay few.
//
// A row whose DN sorts before the one before it, a search that starts
// over, or a writer that failed gives the streamed report up: its temporary
// file goes, nothing is written, and the caller writes the report from the
// stored rows as without it. Nothing here raises into the search.
//
//   TStreamedReport streamed(columns, path, configure);
//   rows.SetRowTap(&streamed);
//   ... the search stores its rows ...
//   if (!streamed.Finish()) ... write the report from the stored rows ...
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "export/handedrows.h"
#include "export/kxexport.h"
#include "store/profilerun.h"

namespace quorvel {

class TStreamedReport : public TRowTap {
 public:
  // Starts the writer on `path` with the run's stored columns ("oid"
  // first); `configure` sets the engine up as for a report written from the
  // stored rows (its row source and desktop are this object's).
  TStreamedReport(const std::vector<std::string>& columns, const std::string& path,
                  const std::function<void(TkxDBGridExport&)>& configure);
  // Gives the report up unless Finish has written it.
  ~TStreamedReport() override;
  TStreamedReport(const TStreamedReport&) = delete;
  TStreamedReport& operator=(const TStreamedReport&) = delete;

  void Row(const std::vector<std::string>& cells) override;
  void Restart() override;

  // Once the search has ended and its rows are stored: ends the rows and
  // waits for the writer. True when the report was written whole; false
  // when it was given up (nothing was written).
  bool Finish();
  // Gives the report up (the run will write no report, or another one).
  void GiveUp();
  // How the writer's run ended (after Finish).
  const TkxRunResult& Result() const { return engine_.LastRun(); }
  bool GivenUp() const { return givenUp_; }

 private:
  void Join();

  TkxDBGridExport engine_;
  TkxHeadlessDesktop desktop_;  // no progress of its own: the search shows it
  TkxHandedRowSource rows_;
  std::string lastDN_;
  bool givenUp_ = false;
  bool written_ = false;
  std::thread writer_;
};

}  // namespace quorvel
