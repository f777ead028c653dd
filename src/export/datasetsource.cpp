#include "export/datasetsource.h"

#include <stdexcept>

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

void TkxDatasetRowSource::BeginWalk() {
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
