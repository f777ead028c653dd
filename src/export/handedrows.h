// Rows handed to an export while they are still being made: one thread (the
// producer, a search storing its entries) puts rows in the order they go
// out, and the engine on another thread writes each as it comes. The report
// is thereby written while the search waits on the server, not after it.
//
// The producer ends the walk with End (the engine then writes its last rows
// and finishes the report) or gives it up with Abandon (the engine's next
// read raises, so that the run fails and no report is left: a file export
// drops its temporary file). The engine's side marks the source Closed once
// its run is over, however it ended, so that a producer never waits on a
// consumer that is gone: Put then returns false.
//
// Rows travel in batches, and a bounded number of batches is held at once:
// a producer faster than the writer waits for room, so that the rows on
// their way never grow with the result. Batches are used again, so a row
// costs no allocation once the first batches have been filled.
//
//   TkxHandedRowSource rows(ResultTableColumns(names));
//   std::thread writer([&] { engine.DBGrid = &rows; engine.ExportToPath(p); rows.Close(); });
//   for (...) rows.Put(cells);   // on the producer's thread
//   rows.End();                  // or rows.Abandon()
//   writer.join();
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "export/rowsource.h"

class TkxHandedRowSource : public TkxRowSource {
 public:
  explicit TkxHandedRowSource(std::vector<TkxColumnInfo> columns, std::size_t batchRows = 256,
                              std::size_t batchesHeld = 8);

  // The producer's side.
  // Adds a row (one text per column; missing texts are empty). False once
  // the walk was abandoned or the consumer has closed the source.
  bool Put(const std::vector<std::string>& cells);
  // No more rows: the walk ends after the last row put.
  void End();
  // The walk must not complete: the engine's next read raises.
  void Abandon();

  // The consumer's side, once its run is over (the producer no longer waits).
  void Close();

  // The engine's walk. AtEnd waits for the next row, the end or the
  // abandonment, and raises std::runtime_error on the last.
  void FirstRow() override {}
  bool IsReady() const override { return true; }
  bool AtEnd(int visited) const override;
  int ColumnCount() const override { return static_cast<int>(columns_.size()); }
  TkxColumnInfo Column(int i) const override { return columns_[i]; }
  void ReadRow(TkxValues& values) override;
  // Rows still to come are not known: -1, as a source that cannot count.
  int CountRows() override { return -1; }

 private:
  using Batch = std::vector<std::vector<std::string>>;
  // Hands the producer's batch over (waiting for room); false when closed.
  bool Hand();
  // Takes the next batch for the walk; false at the end.
  bool Take() const;

  std::vector<TkxColumnInfo> columns_;
  const std::size_t batchRows_, batchesHeld_;

  // The producer's batch being filled: `filling_` rows of it are in use.
  Batch producing_;
  std::size_t filling_ = 0;

  // The walk's batch being read: `reading_` rows of `readingRows_` read.
  mutable Batch consuming_;
  mutable std::size_t readingRows_ = 0, reading_ = 0;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  mutable std::deque<std::pair<Batch, std::size_t>> handed_;  // batches and their row counts
  mutable std::vector<Batch> spare_;                          // emptied, for the producer
  bool ended_ = false, abandoned_ = false, closed_ = false;
};
