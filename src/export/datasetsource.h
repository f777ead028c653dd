// The rows of an open dataset as an export row source: used by the headless
// runner, the tests and the benchmarks, and by the grid source for its values.
#pragma once

#include <memory>

#include "export/rowsource.h"
#include "sqlstore/dataset.h"

// The layout facts of a dataset field: its kind and declared size.
TkxColumnInfo DatasetColumnInfo(const TFieldDef& def);

// Raises std::runtime_error when a row of the dataset (read in place) could
// not be read, so that the export fails instead of writing empty cells.
void ThrowOnReadError(const TASQLite3BaseQuery& dataset);

// The exact values kept beside a dataset's rows (sqlstore/entryvalues.h): the
// values table of the table the dataset reads in place, in the order and with
// the columns of its row query, if any. Reset before each walk (the dataset may
// read another table by then).
class TkxDatasetValues {
 public:
  void Reset();
  // The values of dataset row `row`, in the dataset's field order; false when
  // the dataset's table keeps none.
  bool Read(const TASQLite3BaseQuery& dataset, int row, quorvel::TEntryValues& out);

 private:
  bool Probe(const TASQLite3BaseQuery& dataset);
  std::unique_ptr<quorvel::TEntryValueReader> reader_;
  std::vector<std::size_t> columnOf_;  // the table's column of each field
  std::size_t tableColumns_ = 0;
  quorvel::TEntryValues stored_;  // in the table's column order
  bool probed_ = false;
};

class TkxDatasetRowSource : public TkxRowSource {
 public:
  explicit TkxDatasetRowSource(TASQLite3BaseQuery* dataset) : dataset_(dataset) {}
  void SetDataset(TASQLite3BaseQuery* dataset) { dataset_ = dataset; }
  TASQLite3BaseQuery* Dataset() const { return dataset_; }

  void BeginWalk() override;
  void EndWalk() override;
  void FirstRow() override { row_ = 0; }
  bool IsReady() const override { return dataset_ != nullptr && dataset_->Active(); }
  bool AtEnd(int visited) const override;
  int ColumnCount() const override { return dataset_ ? dataset_->FieldCount() : 0; }
  TkxColumnInfo Column(int i) const override { return DatasetColumnInfo(dataset_->FieldDef(i)); }
  void ReadRow(TkxValues& values) override;
  bool ReadEntryValues(quorvel::TEntryValues& out) override;
  int CountRows() override;
  // The dataset row ReadRow reads next.
  int Position() const { return row_; }

 private:
  TASQLite3BaseQuery* dataset_;
  int row_ = 0;
  int savedRecNo_ = 0;
  TkxDatasetValues values_;
};
