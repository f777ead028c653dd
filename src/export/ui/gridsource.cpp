#include "export/ui/gridsource.h"

#include <QAbstractItemModel>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTableView>

#include "export/datasetsource.h"
#include "sqlstore/dataset.h"

bool TkxGridRowSource::IsReady() const {
  return grid_ != nullptr && grid_->model() != nullptr && dataset_ != nullptr && dataset_->Active();
}

void TkxGridRowSource::BeginWalk() {
  values_.Reset();
  if (grid_ == nullptr) return;
  const QModelIndex cur = grid_->currentIndex();
  savedRow_ = cur.isValid() ? cur.row() : -1;
  savedColumn_ = cur.isValid() ? cur.column() : 0;
  updates_ = grid_->updatesEnabled();
  grid_->setUpdatesEnabled(false);
  if (IsReady()) dataset_->BeginRowWalk();
}

void TkxGridRowSource::EndWalk() {
  if (grid_ == nullptr) return;
  if (IsReady()) dataset_->EndRowWalk();
  if (savedRow_ >= 0 && grid_->model() != nullptr) {
    const QModelIndex idx = grid_->model()->index(savedRow_, savedColumn_);
    if (idx.isValid() && grid_->selectionModel() != nullptr)
      grid_->selectionModel()->setCurrentIndex(idx, QItemSelectionModel::NoUpdate);
  }
  grid_->setUpdatesEnabled(updates_);
}

bool TkxGridRowSource::AtEnd(int visited) const {
  if (!IsReady()) return true;
  const int count = dataset_->RecordCount();
  return visited >= count || row_ >= count;
}

bool TkxGridRowSource::RowSelected() const {
  if (grid_ == nullptr || grid_->selectionModel() == nullptr) return false;
  const auto mode = grid_->selectionMode();
  if (mode != QAbstractItemView::MultiSelection && mode != QAbstractItemView::ExtendedSelection)
    return false;
  // ReadRow has moved past the row it read.
  const int read = row_ - 1;
  return read >= 0 && grid_->selectionModel()->isRowSelected(read, QModelIndex());
}

int TkxGridRowSource::ColumnCount() const {
  if (!IsReady()) return 0;
  return std::min(grid_->model()->columnCount(), dataset_->FieldCount());
}

int TkxGridRowSource::Logical(int i) const {
  return grid_->horizontalHeader()->logicalIndex(i);
}

TkxColumnInfo TkxGridRowSource::Column(int i) const {
  const int field = Logical(i);
  TkxColumnInfo c = DatasetColumnInfo(dataset_->FieldDef(field));
  c.Visible = !grid_->isColumnHidden(field);
  const QString caption =
      grid_->model()->headerData(field, Qt::Horizontal, Qt::DisplayRole).toString();
  if (caption.toStdString() != c.FieldName) c.GridCaption = caption.toStdString();
  const QVariant align = grid_->model()->headerData(field, Qt::Horizontal, Qt::TextAlignmentRole);
  if (align.isValid()) {
    const int a = align.toInt();
    c.Alignment = (a & Qt::AlignRight) ? 2 : (a & Qt::AlignHCenter) ? 3 : 1;
  }
  return c;
}

void TkxGridRowSource::ReadRow(TkxValues& values) {
  const int n = ColumnCount();
  values.resize(n);
  if (!IsReady() || row_ >= dataset_->RecordCount()) {
    for (auto& v : values) v.clear();
    return;
  }
  for (int i = 0; i < n; ++i) values[i].assign(dataset_->CellText(row_, Logical(i)));
  ThrowOnReadError(*dataset_);
  ++row_;
}

bool TkxGridRowSource::ReadEntryValues(quorvel::TEntryValues& out) {
  if (!IsReady() || !values_.Read(*dataset_, row_ - 1, stored_)) return false;
  // In the view's column order, as the cells.
  const int n = ColumnCount();
  out.Reset(static_cast<std::size_t>(n));
  out.DN = std::move(stored_.DN);
  out.DNColumn = static_cast<std::size_t>(n);
  for (int i = 0; i < n; ++i) {
    const int field = Logical(i);
    if (field >= 0 && static_cast<std::size_t>(field) == stored_.DNColumn)
      out.DNColumn = static_cast<std::size_t>(i);
    if (field >= 0 && static_cast<std::size_t>(field) < stored_.Columns.size())
      std::swap(out.Columns[static_cast<std::size_t>(i)],
                stored_.Columns[static_cast<std::size_t>(field)]);
  }
  return true;
}

int TkxGridRowSource::CountRows() {
  row_ = 0;
  return IsReady() ? dataset_->RecordCount() : 0;
}
