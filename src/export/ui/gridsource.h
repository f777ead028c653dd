// The main window's results grid as an export row source: column order,
// visibility, titles and selection come from the view; values, field types
// and sizes from the dataset the grid shows.
#pragma once

#include "export/datasetsource.h"
#include "export/rowsource.h"

class QTableView;
class TASQLite3BaseQuery;

class TkxGridRowSource : public TkxRowSource {
 public:
  // Neither is owned; the dataset is the one whose rows the view's model shows,
  // row for row and column for column.
  TkxGridRowSource(QTableView* grid, const TASQLite3BaseQuery* dataset)
      : grid_(grid), dataset_(dataset) {}
  void SetDataset(const TASQLite3BaseQuery* dataset) { dataset_ = dataset; }

  void BeginWalk() override;
  void EndWalk() override;
  void FirstRow() override { row_ = 0; }
  bool IsReady() const override;
  bool AtEnd(int visited) const override;
  bool RowSelected() const override;
  int ColumnCount() const override;
  TkxColumnInfo Column(int i) const override;
  void ReadRow(TkxValues& values) override;
  bool ReadEntryValues(quorvel::TEntryValues& out) override;
  int CountRows() override;

 private:
  int Logical(int i) const;
  QTableView* grid_;
  const TASQLite3BaseQuery* dataset_;
  int row_ = 0;
  int savedRow_ = -1;
  int savedColumn_ = 0;
  bool updates_ = true;
  TkxDatasetValues values_;
  quorvel::TEntryValues stored_;  // in the dataset's column order
};
