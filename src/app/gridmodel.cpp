#include "app/gridmodel.h"

#include <QFont>

#include "dialogs/plaintext.h"
#include "sqlstore/dataset.h"

namespace quorvel {

void TResultsModel::Attach(const TASQLite3BaseQuery* dataset) {
  beginResetModel();
  dataset_ = dataset;
  endResetModel();
}

int TResultsModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() || !dataset_ || !dataset_->Active()) return 0;
  return dataset_->RecordCount();
}

int TResultsModel::columnCount(const QModelIndex& parent) const {
  if (parent.isValid() || !dataset_ || !dataset_->Active()) return 0;
  return dataset_->FieldCount();
}

QVariant TResultsModel::data(const QModelIndex& index, int role) const {
  if (!dataset_ || !index.isValid()) return {};
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
  if (index.row() >= dataset_->RecordCount() || index.column() >= dataset_->FieldCount()) return {};
  std::string_view cell = dataset_->CellText(index.row(), index.column());
  const QString text = QString::fromUtf8(cell.data(), static_cast<qsizetype>(cell.size()));
  // A cell is a directory entry's value: its tool tip must not render it.
  return role == Qt::ToolTipRole ? PlainToolTip(text) : text;
}

QVariant TResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Vertical) {
    if (role == Qt::DisplayRole) return QString();
    return {};
  }
  if (!dataset_ || section < 0 || section >= dataset_->FieldCount()) return {};
  if (role == Qt::DisplayRole) return QString::fromStdString(dataset_->FieldDef(section).name);
  if (role == Qt::FontRole) {
    QFont f;
    f.setBold(true);
    return f;
  }
  return {};
}

Qt::ItemFlags TResultsModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

}  // namespace quorvel
