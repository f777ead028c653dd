// A run's values copied into the history file while the run still stores
// them, so that keeping the run as its profile's snapshot once it has ended
// copies only what came last.
//
//   TSnapshotCopier copier(d.temp, HistoryFile(catalogue), profile, rows);
//   ... the search runs; a thread of the copier's copies what the run has
//       stored, every quarter of a second ...
//   copier.Stop();                       // once the search has ended
//   ... rows.Finish publishes the rows ...
//   copier.Keep(history, facts, rows.RowsTable(), error);
//
// The copier has a connection of its own to the working store, with the
// history file attached. It only reads the run's store, so the run never
// waits for it; it writes a copy beside the profile's snapshot
// (THistory::PrepareStart and PrepareMore), which is not the snapshot until
// Keep replaces it. A search that starts over empties the run's values, and
// the copier then copies them again from the first.
//
// Keep copies the rest and makes the copy the snapshot (THistory::Replace).
// When copying failed at any point, or the copier could not start, Keep
// hands the whole of the work to THistory::Keep of `history` instead, so
// that what is kept, and what is said when it cannot be, is as without a
// copier. A copy that is not replaced goes with the copier.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "store/changes.h"

class TASQLite3DB;

namespace quorvel {

class TExportRowStream;

class TSnapshotCopier {
 public:
  // Made before each step on the copier's thread and let go after it (the
  // headless runner holds its stop signals so, that a stop never comes in
  // the middle of a write to the history file); none when empty.
  using TStepHold = std::function<std::shared_ptr<void>()>;
  // Opens its connection, starts the copy and the thread; the search has not
  // started yet. Nothing here raises: a copier that cannot start leaves the
  // work to Keep's fallback.
  TSnapshotCopier(TASQLite3DB& working, const std::string& historyFile, int profile,
                  const TExportRowStream& rows, TStepHold hold = nullptr);
  ~TSnapshotCopier();
  TSnapshotCopier(const TSnapshotCopier&) = delete;
  TSnapshotCopier& operator=(const TSnapshotCopier&) = delete;

  // Ends the thread (its step under way is finished first). Called once the
  // search has ended; the destructor calls it too.
  void Stop();
  // After Stop, with the run's rows in `rowsTable` (found wherever they are
  // now): makes them the profile's snapshot taken as `facts` say.
  bool Keep(THistory& history, const TSnapshotFacts& facts, const std::string& rowsTable,
            std::string& error);
  // Steps taken so far that copied values (for tests).
  int Steps() const { return steps_.load(); }

 private:
  void Loop();
  bool Step(const std::string& values, bool last);

  int profile_;
  TStepHold hold_;
  std::string values_;  // the run's values while it stores them
  std::shared_ptr<const std::atomic<unsigned>> restarts_;
  unsigned copiedRestarts_ = 0;  // the start of the search the copy holds
  std::unique_ptr<TASQLite3DB> store_;
  std::unique_ptr<THistory> copy_;
  bool failed_ = true;
  std::string error_;
  std::atomic<int> steps_{0};

  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace quorvel
