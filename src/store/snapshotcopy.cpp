#include "store/snapshotcopy.h"

#include <chrono>
#include <exception>
#include <utility>

#include "sqlstore/database.h"
#include "sqlstore/dataset.h"
#include "sqlstore/entryvalues.h"
#include "store/profilerun.h"
#include "store/stagedtable.h"

namespace quorvel {

namespace {

// Often enough that little is left for the last step, seldom enough that
// each step copies thousands of values in one transaction.
constexpr std::chrono::milliseconds kStepInterval(250);

}  // namespace

TSnapshotCopier::TSnapshotCopier(TASQLite3DB& working, const std::string& historyFile, int profile,
                                 const TExportRowStream& rows, TStepHold hold)
    : profile_(profile),
      hold_(std::move(hold)),
      values_(rows.StagedValuesTable()),
      restarts_(rows.Restarts()) {
  if (values_.empty()) return;
  try {
    store_ = std::make_unique<TASQLite3DB>();
    store_->SetDriverDLL(working.DriverDLL());
    store_->SetDatabase(working.FullPath());
    store_->MustExist = true;
    store_->Open();
  } catch (const std::exception& e) {
    error_ = e.what();
    return;
  }
  copy_ = std::make_unique<THistory>(*store_);
  copiedRestarts_ = restarts_->load();
  if (!copy_->Open(historyFile, error_) || !copy_->PrepareStart(profile_, error_)) return;
  failed_ = false;
  thread_ = std::thread([this] { Loop(); });
}

TSnapshotCopier::~TSnapshotCopier() {
  Stop();
  // The copy goes with its history unless it was made the snapshot.
  copy_.reset();
  store_.reset();
}

void TSnapshotCopier::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void TSnapshotCopier::Loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    if (wake_.wait_for(lock, kStepInterval, [this] { return stop_; })) break;
    lock.unlock();
    std::shared_ptr<void> held = hold_ ? hold_() : nullptr;
    const bool ok = Step(values_, false);
    held.reset();
    lock.lock();
    if (!ok) break;
  }
}

// One copy of what the run stored since the step before. The count of
// restarts is read before the step: a search that starts over during it is
// seen by the next one, which copies everything again.
bool TSnapshotCopier::Step(const std::string& values, bool last) {
  const unsigned restarts = restarts_->load();
  const bool anew = restarts != copiedRestarts_;
  if (!copy_->PrepareMore(values, anew, error_)) {
    failed_ = true;
    return false;
  }
  copiedRestarts_ = restarts;
  if (!last) steps_.fetch_add(1);
  return true;
}

bool TSnapshotCopier::Keep(THistory& history, const TSnapshotFacts& facts,
                           const std::string& rowsTable, std::string& error) {
  Stop();
  if (!failed_) {
    // The run's values are published beside its rows by now.
    std::string values;
    try {
      values = EntryValuesTable(RunRowsTable(*store_, rowsTable));
    } catch (const std::exception&) {
      failed_ = true;
    }
    if (!failed_ && Step(values, true)) return copy_->Replace(profile_, facts, error);
  }
  return history.Keep(profile_, facts, rowsTable, error);
}

}  // namespace quorvel
