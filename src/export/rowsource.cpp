#include "export/rowsource.h"

TkxMemoryRowSource::TkxMemoryRowSource(std::vector<TkxColumnInfo> columns,
                                       std::vector<TkxValues> rows)
    : Columns(std::move(columns)), Rows(std::move(rows)) {}

bool TkxMemoryRowSource::AtEnd(int visited) const {
  if (!HideRowCount && static_cast<std::size_t>(visited) == Rows.size()) return true;
  return cursor_ >= Rows.size();
}

bool TkxMemoryRowSource::RowSelected() const {
  // ReadRow has already moved past the row it read.
  std::size_t read = cursor_ == 0 ? 0 : cursor_ - 1;
  return read < Selected.size() && Selected[read];
}

void TkxMemoryRowSource::ReadRow(TkxValues& values) {
  values.assign(Columns.size(), std::string());
  if (cursor_ < Rows.size()) {
    const TkxValues& row = Rows[cursor_];
    for (std::size_t i = 0; i < values.size() && i < row.size(); ++i) values[i] = row[i];
    ++cursor_;
  }
}

int TkxMemoryRowSource::CountRows() {
  cursor_ = 0;
  return static_cast<int>(Rows.size());
}

std::vector<TkxColumnInfo> ResultTableColumns(const std::vector<std::string>& names) {
  std::vector<TkxColumnInfo> cols;
  for (std::size_t i = 0; i < names.size(); ++i) {
    TkxColumnInfo c;
    c.FieldName = names[i];
    c.Kind = fkText;
    c.Size = i + 1 == names.size() ? 255 : 1024;
    cols.push_back(c);
  }
  return cols;
}
