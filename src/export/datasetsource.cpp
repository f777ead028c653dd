#include "export/datasetsource.h"

#include <stdexcept>

#include "sqlstore/rowquery.h"

TkxColumnInfo DatasetColumnInfo(const TFieldDef& def) {
  TkxColumnInfo c;
  c.FieldName = def.name;
  c.Size = def.size;
  c.Alignment = 1;
  switch (def.type) {
    case ftString:
    case ftMemo:
      c.Kind = fkText;
      break;
    case ftBoolean:
      c.Kind = fkBoolean;
      break;
    case ftInteger:
    case ftFloat:
    case ftCurrency:
      c.Kind = fkNumber;
      c.Alignment = 2;
      break;
    case ftDate:
      c.Kind = fkDate;
      break;
    case ftTime:
      c.Kind = fkTime;
      break;
    case ftDateTime:
      c.Kind = fkDateTime;
      break;
    case ftBlob:
    case ftGraphic:
      c.Kind = fkBinary;
      break;
    case ftWideString:
    case ftTimeStamp:
      c.Kind = fkOther;
      break;
  }
  return c;
}

void TkxDatasetValues::Reset() {
  reader_.reset();
  columnOf_.clear();
  probed_ = false;
}

// Finds the values table of the dataset's table and where each field's
// values are (the fields may be some of the table's columns, in another order).
bool TkxDatasetValues::Probe(const TASQLite3BaseQuery& dataset) {
  std::string table, key;
  TASQLite3DB* db = dataset.Connection();
  if (const quorvel::TRowQuery* shown = dataset.RowQuerySource())
    table = shown->Table;
  else if (!dataset.InPlaceSource(table, key))
    return false;
  if (db == nullptr) return false;
  reader_ = std::make_unique<quorvel::TEntryValueReader>(*db, table);
  if (!reader_->Exists()) {
    reader_.reset();
    return false;
  }
  const std::vector<std::string> names = quorvel::TableColumnNames(*db, table);
  tableColumns_ = names.size();
  for (int f = 0; f < dataset.FieldCount(); ++f) {
    std::size_t col = names.size();
    for (std::size_t c = 0; c < names.size(); ++c)
      if (names[c] == dataset.FieldDef(f).name) col = c;
    columnOf_.push_back(col);
  }
  return true;
}

bool TkxDatasetValues::Read(const TASQLite3BaseQuery& dataset, int row,
                            quorvel::TEntryValues& out) {
  try {
    if (!probed_) {
      probed_ = true;
      if (!Probe(dataset)) reader_.reset();
    }
    if (!reader_ || row < 0 || row >= dataset.RecordCount()) return false;
    reader_->Read(dataset.RowId(row), tableColumns_, stored_);
  } catch (const std::exception& e) {
    throw std::runtime_error("the values could not be read from the working store: " +
                             std::string(e.what()));
  }
  out.Reset(columnOf_.size());
  out.DN = std::move(stored_.DN);
  out.DNColumn = columnOf_.size();
  for (std::size_t f = 0; f < columnOf_.size(); ++f) {
    if (columnOf_[f] == 0) out.DNColumn = f;
    if (columnOf_[f] < stored_.Columns.size())
      std::swap(out.Columns[f], stored_.Columns[columnOf_[f]]);
  }
  return true;
}

void TkxDatasetRowSource::BeginWalk() {
  values_.Reset();
  if (!IsReady()) return;
  savedRecNo_ = dataset_->RecNo();
  dataset_->BeginRowWalk();
}

void TkxDatasetRowSource::EndWalk() {
  if (!IsReady()) return;
  dataset_->EndRowWalk();
  if (savedRecNo_ > 0) dataset_->SetRecNo(savedRecNo_);
}

bool TkxDatasetRowSource::AtEnd(int visited) const {
  if (!IsReady()) return true;
  const int count = dataset_->RecordCount();
  return (count >= 0 && visited == count) || row_ >= count;
}

void TkxDatasetRowSource::ReadRow(TkxValues& values) {
  const int n = ColumnCount();
  values.resize(n);
  if (!IsReady() || row_ >= dataset_->RecordCount()) {
    for (auto& v : values) v.clear();
    return;
  }
  for (int i = 0; i < n; ++i) values[i].assign(dataset_->CellText(row_, i));
  ThrowOnReadError(*dataset_);
  ++row_;
}

bool TkxDatasetRowSource::ReadEntryValues(quorvel::TEntryValues& out) {
  return IsReady() && values_.Read(*dataset_, row_ - 1, out);
}

void ThrowOnReadError(const TASQLite3BaseQuery& dataset) {
  // A row read in place that could not be read has empty cells: the report
  // must fail rather than hold them.
  if (!dataset.ReadError().empty())
    throw std::runtime_error("the rows could not be read from the working store: " +
                             dataset.ReadError());
}

int TkxDatasetRowSource::CountRows() {
  row_ = 0;
  return IsReady() ? dataset_->RecordCount() : 0;
}
