// The rows of an open dataset as an export row source: used by the headless
// runner, the tests and the benchmarks, and by the grid source for its values.
#pragma once

#include "export/rowsource.h"
#include "sqlstore/dataset.h"

// The layout facts of a dataset field: its kind and declared size.
TkxColumnInfo DatasetColumnInfo(const TFieldDef& def);

// Raises std::runtime_error when a row of the dataset (read in place) could
// not be read, so that the export fails instead of writing empty cells.
void ThrowOnReadError(const TASQLite3BaseQuery& dataset);

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
  int CountRows() override;
  // The dataset row ReadRow reads next.
  int Position() const { return row_; }

 private:
  TASQLite3BaseQuery* dataset_;
  int row_ = 0;
  int savedRecNo_ = 0;
};
