// The results view: the grid that shows a run's rows (or one entry's
// attributes), its model, the quick filter box, the column state of its
// header and the statement that gives its rows in order. The main window
// hosts it, tells it which rows to show and asks it what to copy; the export
// engine reads its grid (export/ui/gridsource.h), whose dataset is the
// view's statement, so every report holds what the grid shows.
//
// What the user does with it:
//  - A click on a header sorts by that column, ascending, a second click
//    descending, a third returns to the run's order (sqlstore/rowquery.h
//    says how values compare). The header shows the sort indicator.
//  - The filter box keeps the rows in which a shown column (or the one
//    chosen beside it) contains the text, any case. Esc in the box empties
//    it; FocusFilter puts the focus there (Ctrl+F).
//  - The header's context menu hides and shows columns and offers "Reset
//    view"; headers are dragged to reorder columns. The layout (order,
//    hidden columns, widths, sort) is the run's profile's saved view
//    (store/gridview.h), told through ViewChanged a moment after a change
//    and when FlushView is called; the filter is not saved.
//  - The grid's context menu copies the cell, the row, the column or the
//    DN; CopySelection gives the selected cells as tab-separated lines.
//
// How it fails: a statement that cannot be opened (the working store's
// error) leaves the grid empty and is reported through LogError; the view
// itself never raises.
//
//   view->ShowRun(*::data, rows->RowsTable(), profile.view);
//   connect(view, &TResultsView::RowsChanged, ...update the title...);
#pragma once

#include <QWidget>
#include <string>

#include "sqlstore/rowquery.h"
#include "store/gridview.h"

class QComboBox;
class QLineEdit;
class QMenu;
class QTableView;
class QTimer;
class Tdata;

namespace quorvel {

class TResultsModel;

class TResultsView : public QWidget {
  Q_OBJECT
 public:
  explicit TResultsView(QWidget* parent = nullptr);

  QTableView* Grid() const { return grid_; }
  TResultsModel* Model() const { return model_; }
  QLineEdit* FilterBox() const { return filter_; }
  QComboBox* FilterColumn() const { return filterColumn_; }

  // Shows the rows of a run's table with a profile's saved view (the text of
  // `profiles.view`); the filter box starts empty. `key` is the column of the
  // table's own order, the DN's ("oid" for a run's rows, "dn" for a change
  // report). False when the rows could not be read (reported).
  bool ShowRun(Tdata& d, const std::string& table, const std::string& savedView,
               const std::string& key = "oid");
  // Shows the property rows of one entry (the icon column hidden): no sort,
  // no filter, nothing saved.
  bool ShowProperties(Tdata& d);
  void Detach();
  bool Attached() const;
  bool ShowsRun() const { return data_ != nullptr && !table_.empty(); }
  // The layout of the run shown before the last Detach (the catalogue's
  // text), to show the same rows again as they were.
  const std::string& LastLayout() const { return lastLayout_; }

  // Rows shown now, and whether the filter keeps fewer than all.
  int ShownRows() const;
  bool Filtered() const;
  // The statement the grid shows.
  const TRowQuery& Query() const { return query_; }
  // The layout now, as the catalogue keeps it (empty for today's layout).
  TGridView CurrentView() const;
  void ResetView();
  // Tells ViewChanged now if a change is waiting.
  void FlushView();
  void FocusFilter();

  // The selected cells as lines of tab-separated cells, in the order shown;
  // a single cell is its text alone. Empty when nothing is selected.
  QString CopySelection() const;
  QString CellText(int row, int logicalColumn) const;
  // The shown columns of a row, tab-separated; a column's shown cells, one a
  // line; the row's DN.
  QString RowText(int row) const;
  QString ColumnText(int logicalColumn) const;
  QString DnText(int row) const;

 signals:
  // The filter changed the rows shown (the title line counts them).
  void RowsChanged();
  // The layout changed; the text is what `profiles.view` keeps.
  void ViewChanged(const QString& text);

 private:
  void BuildHeaderMenu();
  void HeaderMenu(const QPoint& at);
  void GridMenu(const QPoint& at);
  void SectionClicked(int logical);
  // Reads the rows again with the current sort and filter, keeping the
  // header's layout.
  void Requery();
  bool Open(const TRowQuery& query);
  void ApplyLayout(const TGridView& view);
  void UpdateSortIndicator();
  void FillFilterColumns();
  void LayoutChanged();
  std::vector<int> ShownColumns() const;
  std::string ColumnName(int logical) const;
  // The name the header and filter menus give a column ("DN" for a run's
  // DN column), and the DN's column.
  std::string ColumnLabel(int logical) const;
  int DnColumn() const;
  bool CopyText(const QString& text) const;

  QLineEdit* filter_ = nullptr;
  QComboBox* filterColumn_ = nullptr;
  QTableView* grid_ = nullptr;
  TResultsModel* model_ = nullptr;
  QTimer* saveTimer_ = nullptr;
  Tdata* data_ = nullptr;
  std::string table_;  // the run's table; empty for property rows
  TRowQuery query_;
  int sortColumn_ = -1;  // logical; -1 for the run's order
  bool sortDescending_ = false;
  bool restoring_ = false;  // the layout is being set, not changed by the user
  bool viewPending_ = false;
  std::string lastLayout_;
};

}  // namespace quorvel
