// The rows an export walks, seen through an abstract source so that the engine
// runs the same over the main window's grid, over a dataset (headless runner,
// tests, benchmarks) or over rows held in memory.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "export/kxtypes.h"
#include "sqlstore/entryvalues.h"

// The field types that decide a column's layout width.
enum TkxFieldKind {
  fkText,     // text, variable bytes, memo: the declared size
  fkBoolean,  // longer of the true and false texts
  fkNumber,   // integers, floats, currency, BCD, fixed bytes, references: 15
  fkDate,
  fkTime,
  fkDateTime,
  fkUnknown,  // 13
  fkBinary,   // blobs, pictures, OLE, arrays: 12
  fkOther     // large integer, fixed text, wide text: 0
};

struct TkxColumnInfo {
  std::string FieldName;
  std::string DisplayLabel;  // empty: the field name is the title
  std::string GridCaption;   // title caption of the grid column bound to the field
  TkxFieldKind Kind = fkText;
  int Size = 0;
  int Alignment = 1;  // 0 none, 1 left, 2 right, 3 centre
  bool Visible = true;
};

// The walk over the rows. Every operation is virtual so that a grid, a dataset
// or a memory table can stand behind it.
class TkxRowSource {
 public:
  virtual ~TkxRowSource() = default;
  // Remembers the current row and suspends display updates.
  virtual void BeginWalk() {}
  // Returns to the remembered row and resumes display updates.
  virtual void EndWalk() {}
  virtual void FirstRow() = 0;
  virtual bool IsReady() const = 0;
  // True when the walk has reached the last row: `visited` rows have been read.
  virtual bool AtEnd(int visited) const = 0;
  // Whether the row that ReadRow read last is marked selected.
  virtual bool RowSelected() const { return false; }
  virtual int ColumnCount() const = 0;
  // Facts about column i; i is within [0, ColumnCount()).
  virtual TkxColumnInfo Column(int i) const = 0;
  // Fills `values` with the current row's display texts, then moves on.
  virtual void ReadRow(TkxValues& values) = 0;
  // The exact values of the entry of the row ReadRow read last, indexed like
  // the columns (out.DNColumn names the DN's); false when the source keeps
  // none (rows held in memory, an entry's property listing). Raises
  // std::runtime_error when the stored values could not be read.
  virtual bool ReadEntryValues(quorvel::TEntryValues& out) {
    (void)out;
    return false;
  }
  // Moves to the first row and counts the rows to the end.
  virtual int CountRows() = 0;
};

// Rows held in memory: the columns with their facts and the rows as texts.
class TkxMemoryRowSource : public TkxRowSource {
 public:
  TkxMemoryRowSource() = default;
  TkxMemoryRowSource(std::vector<TkxColumnInfo> columns, std::vector<TkxValues> rows);

  std::vector<TkxColumnInfo> Columns;
  std::vector<TkxValues> Rows;
  std::vector<bool> Selected;  // per row; missing entries are not selected
  bool Ready = true;
  // Reports a row count of -1, as a source that cannot count its rows does.
  bool HideRowCount = false;

  void BeginWalk() override { saved_ = cursor_; }
  void EndWalk() override { cursor_ = saved_; }
  void FirstRow() override { cursor_ = 0; }
  bool IsReady() const override { return Ready; }
  bool AtEnd(int visited) const override;
  bool RowSelected() const override;
  int ColumnCount() const override { return static_cast<int>(Columns.size()); }
  TkxColumnInfo Column(int i) const override { return Columns[i]; }
  void ReadRow(TkxValues& values) override;
  int CountRows() override;
  std::size_t Cursor() const { return cursor_; }
  void SetCursor(std::size_t c) { cursor_ = c; }

 private:
  std::size_t cursor_ = 0;
  std::size_t saved_ = 0;
};

// Text columns of the results table: all declared 1024 wide except the last (255).
std::vector<TkxColumnInfo> ResultTableColumns(const std::vector<std::string>& names);
