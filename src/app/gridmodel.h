// The results grid's model: a read-only table straight over a dataset's rows
// in memory. Nothing is copied per row; cells are read when the view paints
// them, so a result of any size scrolls at the same speed.
#pragma once

#include <QAbstractTableModel>

class TASQLite3BaseQuery;

namespace quorvel {

class TResultsModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  using QAbstractTableModel::QAbstractTableModel;

  // Binds the model to an open dataset (not owned); nullptr detaches it, and
  // the grid goes empty. Detach before the dataset is closed or re-opened.
  void Attach(const TASQLite3BaseQuery* dataset);
  void Detach() { Attach(nullptr); }
  const TASQLite3BaseQuery* Dataset() const { return dataset_; }
  bool Attached() const { return dataset_ != nullptr; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  const TASQLite3BaseQuery* dataset_ = nullptr;
};

}  // namespace quorvel
