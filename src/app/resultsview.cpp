#include "app/resultsview.h"

#include <QAction>
#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <functional>
#include <set>

#include "app/gridmodel.h"
#include "dialogs/uiseam.h"
#include "sqlstore/queryrows.h"
#include "store/data.h"
#include "store/messages.h"
#include "store/profilerun.h"

namespace quorvel {
namespace {

constexpr int kDefaultWidth = 100;

// Esc in the filter box empties it, before any window shortcut takes the key.
class TFilterKeys : public QObject {
 public:
  explicit TFilterKeys(QLineEdit* box) : QObject(box), box_(box) { box->installEventFilter(this); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != box_ || box_->text().isEmpty()) return false;
    if (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress)
      return false;
    if (static_cast<QKeyEvent*>(event)->key() != Qt::Key_Escape) return false;
    event->accept();
    if (event->type() == QEvent::KeyPress) box_->clear();
    return true;
  }

 private:
  QLineEdit* box_;
};

}  // namespace

TResultsView::TResultsView(QWidget* parent) : QWidget(parent) {
  auto* lay = new QVBoxLayout(this);
  lay->setContentsMargins(0, 0, 0, 0);
  lay->setSpacing(0);
  auto* bar = new QHBoxLayout();
  bar->setContentsMargins(2, 2, 2, 2);
  auto* label = new QLabel("&Filter:", this);
  filter_ = new QLineEdit(this);
  filter_->setObjectName("filter");
  filter_->setAccessibleName("Filter");
  filter_->setPlaceholderText("Rows containing");
  filter_->setClearButtonEnabled(true);
  label->setBuddy(filter_);
  filterColumn_ = new QComboBox(this);
  filterColumn_->setObjectName("filter_column");
  filterColumn_->setAccessibleName("Filter column");
  filterColumn_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  bar->addWidget(label);
  bar->addWidget(filter_, 1);
  bar->addWidget(filterColumn_);
  lay->addLayout(bar);
  new TFilterKeys(filter_);

  grid_ = new QTableView(this);
  grid_->setObjectName("grid");
  grid_->setAccessibleName("Results");
  model_ = new TResultsModel(grid_);
  grid_->setModel(model_);
  grid_->setContextMenuPolicy(Qt::CustomContextMenu);
  QHeaderView* header = grid_->horizontalHeader();
  header->setSectionsMovable(true);
  header->setSectionsClickable(true);
  header->setContextMenuPolicy(Qt::CustomContextMenu);
  lay->addWidget(grid_, 1);

  saveTimer_ = new QTimer(this);
  saveTimer_->setSingleShot(true);
  saveTimer_->setInterval(400);
  connect(saveTimer_, &QTimer::timeout, this, [this] { FlushView(); });
  connect(header, &QHeaderView::sectionClicked, this, [this](int s) { SectionClicked(s); });
  connect(header, &QHeaderView::sectionMoved, this, [this] { LayoutChanged(); });
  connect(header, &QHeaderView::sectionResized, this, [this] { LayoutChanged(); });
  connect(header, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& p) { HeaderMenu(p); });
  connect(grid_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& p) { GridMenu(p); });
  connect(filter_, &QLineEdit::textChanged, this, [this] { Requery(); });
  connect(filterColumn_, &QComboBox::currentIndexChanged, this, [this] {
    if (!filter_->text().isEmpty()) Requery();
  });
  filter_->setEnabled(false);
  filterColumn_->setEnabled(false);
}

bool TResultsView::Attached() const {
  return model_->Attached();
}

void TResultsView::Detach() {
  FlushView();
  if (ShowsRun() && model_->Attached()) lastLayout_ = FormatView(CurrentView());
  model_->Detach();
}

bool TResultsView::Open(const TRowQuery& query) {
  model_->Detach();
  std::string error;
  if (!OpenShownRows(*data_, query, &error)) {
    LogError("Error reading the results: " + error);
    return false;
  }
  model_->Attach(&data_->run);
  return true;
}

bool TResultsView::ShowRun(Tdata& d, const std::string& table, const std::string& savedView,
                           const std::string& key) {
  FlushView();
  data_ = &d;
  table_ = table;
  const TGridView view = ParseView(savedView);
  query_ = TRowQuery(table, key);
  sortColumn_ = -1;
  sortDescending_ = false;
  {
    const QSignalBlocker block(filter_);
    filter_->clear();
  }
  // The rows come in the run's order first, so that the columns are known.
  if (!Open(query_)) return false;
  FillFilterColumns();
  ApplyLayout(view);
  if (!view.sort.empty()) {
    for (int c = 0; c < model_->columnCount(); ++c)
      if (SameText(ColumnName(c), view.sort.front().Column)) {
        sortColumn_ = c;
        sortDescending_ = view.sort.front().Descending;
      }
    if (sortColumn_ >= 0) Requery();
  }
  UpdateSortIndicator();
  filter_->setEnabled(true);
  filterColumn_->setEnabled(true);
  // Showing the rows changed nothing the user asked for: nothing to save.
  viewPending_ = false;
  saveTimer_->stop();
  return true;
}

bool TResultsView::ShowProperties(Tdata& d) {
  FlushView();
  data_ = nullptr;
  table_.clear();
  sortColumn_ = -1;
  {
    const QSignalBlocker block(filter_);
    filter_->clear();
  }
  filter_->setEnabled(false);
  filterColumn_->setEnabled(false);
  restoring_ = true;
  model_->Attach(&d.run);
  for (int c = 0; c < model_->columnCount(); ++c) {
    grid_->setColumnHidden(c, c == 0);
    grid_->setColumnWidth(c, kDefaultWidth);
  }
  grid_->horizontalHeader()->setSortIndicatorShown(false);
  restoring_ = false;
  return true;
}

std::string TResultsView::ColumnName(int logical) const {
  return model_->headerData(logical, Qt::Horizontal, Qt::DisplayRole).toString().toStdString();
}

int TResultsView::DnColumn() const {
  for (int c = 0; c < model_->columnCount(); ++c)
    if (SameText(ColumnName(c), query_.Key)) return c;
  return 0;
}

std::string TResultsView::ColumnLabel(int logical) const {
  return logical == DnColumn() && query_.Key == "oid" ? std::string("DN") : ColumnName(logical);
}

void TResultsView::FillFilterColumns() {
  const QSignalBlocker block(filterColumn_);
  filterColumn_->clear();
  filterColumn_->addItem("All columns", -1);
  for (int c = 0; c < model_->columnCount(); ++c)
    filterColumn_->addItem(QString::fromStdString(ColumnLabel(c)), c);
}

std::vector<int> TResultsView::ShownColumns() const {
  std::vector<int> shown;
  const QHeaderView* h = grid_->horizontalHeader();
  for (int v = 0; v < h->count(); ++v) {
    const int logical = h->logicalIndex(v);
    if (!h->isSectionHidden(logical)) shown.push_back(logical);
  }
  return shown;
}

void TResultsView::Requery() {
  if (!ShowsRun()) return;
  TRowQuery q = query_;
  if (sortColumn_ >= 0) q.Order = {{ColumnName(sortColumn_), sortDescending_}};
  q.Filter = filter_->text().toStdString();
  const int only = filterColumn_->currentData().toInt();
  if (only >= 0 && only < model_->columnCount())
    q.FilterColumns = {ColumnName(only)};
  else
    for (int c : ShownColumns()) q.FilterColumns.push_back(ColumnName(c));
  QHeaderView* header = grid_->horizontalHeader();
  const QByteArray layout = header->saveState();
  restoring_ = true;
  Open(q);
  header->restoreState(layout);
  restoring_ = false;
  UpdateSortIndicator();
  emit RowsChanged();
}

void TResultsView::UpdateSortIndicator() {
  QHeaderView* header = grid_->horizontalHeader();
  header->setSortIndicatorShown(sortColumn_ >= 0);
  if (sortColumn_ >= 0)
    header->setSortIndicator(sortColumn_,
                             sortDescending_ ? Qt::DescendingOrder : Qt::AscendingOrder);
  else
    header->setSortIndicator(-1, Qt::AscendingOrder);
}

void TResultsView::SectionClicked(int logical) {
  if (!ShowsRun() || !model_->Attached()) return;
  // Ascending, descending, then the run's order again.
  if (sortColumn_ != logical) {
    sortColumn_ = logical;
    sortDescending_ = false;
  } else if (!sortDescending_) {
    sortDescending_ = true;
  } else {
    sortColumn_ = -1;
  }
  Requery();
  LayoutChanged();
}

int TResultsView::ShownRows() const {
  return model_->rowCount();
}

bool TResultsView::Filtered() const {
  return ShowsRun() && model_->Attached() && !filter_->text().isEmpty();
}

void TResultsView::FocusFilter() {
  if (!filter_->isEnabled()) return;
  filter_->setFocus(Qt::ShortcutFocusReason);
  filter_->selectAll();
}

}  // namespace quorvel

namespace quorvel {

void TResultsView::ApplyLayout(const TGridView& view) {
  restoring_ = true;
  QHeaderView* header = grid_->horizontalHeader();
  const int n = model_->columnCount();
  for (int c = 0; c < n; ++c) {
    header->moveSection(header->visualIndex(c), c);
    header->setSectionHidden(c, false);
    grid_->setColumnWidth(c, kDefaultWidth);
  }
  // The view's columns first, in its order; columns it does not name (added
  // to the profile since) after them.
  int position = 0;
  std::vector<bool> placed(static_cast<size_t>(n), false);
  for (const TViewColumn& vc : view.columns) {
    for (int c = 0; c < n; ++c) {
      if (placed[static_cast<size_t>(c)] || !SameText(ColumnName(c), vc.name)) continue;
      placed[static_cast<size_t>(c)] = true;
      header->moveSection(header->visualIndex(c), position++);
      if (vc.width > 0) grid_->setColumnWidth(c, vc.width);
      header->setSectionHidden(c, vc.hidden);
      break;
    }
  }
  restoring_ = false;
}

TGridView TResultsView::CurrentView() const {
  TGridView view;
  if (!ShowsRun() || !model_->Attached()) return view;
  const QHeaderView* header = grid_->horizontalHeader();
  bool plain = sortColumn_ < 0;
  for (int v = 0; v < header->count(); ++v) {
    const int c = header->logicalIndex(v);
    TViewColumn vc;
    vc.name = ColumnName(c);
    vc.hidden = header->isSectionHidden(c);
    vc.width = vc.hidden ? 0 : header->sectionSize(c);
    if (c != v || vc.hidden || vc.width != kDefaultWidth) plain = false;
    view.columns.push_back(std::move(vc));
  }
  // Today's layout is kept as nothing at all.
  if (plain) return {};
  if (sortColumn_ >= 0) view.sort.push_back({ColumnName(sortColumn_), sortDescending_});
  return view;
}

void TResultsView::LayoutChanged() {
  if (restoring_ || !ShowsRun()) return;
  viewPending_ = true;
  saveTimer_->start();
}

void TResultsView::FlushView() {
  saveTimer_->stop();
  if (!viewPending_) return;
  viewPending_ = false;
  emit ViewChanged(QString::fromStdString(FormatView(CurrentView())));
}

void TResultsView::ResetView() {
  if (!ShowsRun()) return;
  sortColumn_ = -1;
  sortDescending_ = false;
  ApplyLayout({});
  Requery();
  viewPending_ = true;
  FlushView();
}

void TResultsView::HeaderMenu(const QPoint& at) {
  if (!ShowsRun() || !model_->Attached()) return;
  QHeaderView* header = grid_->horizontalHeader();
  QMenu menu(this);
  const std::vector<int> shown = ShownColumns();
  for (int v = 0; v < header->count(); ++v) {
    const int c = header->logicalIndex(v);
    QAction* a = menu.addAction(QString::fromStdString(ColumnLabel(c)));
    a->setCheckable(true);
    a->setChecked(!header->isSectionHidden(c));
    // The last shown column stays: a grid without columns shows nothing to
    // bring them back from.
    a->setEnabled(header->isSectionHidden(c) || shown.size() > 1);
    connect(a, &QAction::toggled, this, [this, c](bool on) {
      grid_->horizontalHeader()->setSectionHidden(c, !on);
      if (on && grid_->columnWidth(c) == 0) grid_->setColumnWidth(c, kDefaultWidth);
      if (!filter_->text().isEmpty()) Requery();
      LayoutChanged();
    });
  }
  menu.addSeparator();
  QAction* reset = menu.addAction("Reset view");
  reset->setObjectName("reset_view");
  connect(reset, &QAction::triggered, this, [this] { ResetView(); });
  menu.exec(header->viewport()->mapToGlobal(at));
}

void TResultsView::GridMenu(const QPoint& at) {
  const QModelIndex index = grid_->indexAt(at);
  if (!index.isValid()) return;
  QMenu menu(this);
  const int row = index.row(), column = index.column();
  const std::pair<const char*, std::function<QString()>> entries[] = {
      {"Copy cell", [=, this] { return CellText(row, column); }},
      {"Copy row", [=, this] { return RowText(row); }},
      {"Copy column", [=, this] { return ColumnText(column); }},
      {"Copy DN", [=, this] { return DnText(row); }},
  };
  for (const auto& [caption, text] : entries) {
    QAction* a = menu.addAction(caption);
    connect(a, &QAction::triggered, this, [this, text = text] { CopyText(text()); });
  }
  menu.exec(grid_->viewport()->mapToGlobal(at));
}

bool TResultsView::CopyText(const QString& text) const {
  return UiSeam().SetClipboardText(text);
}

QString TResultsView::CellText(int row, int logicalColumn) const {
  return model_->data(model_->index(row, logicalColumn), Qt::DisplayRole).toString();
}

QString TResultsView::RowText(int row) const {
  QStringList cells;
  for (int c : ShownColumns()) cells << CellText(row, c);
  return cells.join('\t');
}

QString TResultsView::ColumnText(int logicalColumn) const {
  QStringList lines;
  for (int r = 0; r < model_->rowCount(); ++r) lines << CellText(r, logicalColumn);
  return lines.join('\n');
}

QString TResultsView::DnText(int row) const {
  return CellText(row, DnColumn());
}

QString TResultsView::CopySelection() const {
  const QItemSelectionModel* sel = grid_->selectionModel();
  if (!sel || !model_->Attached() || !sel->hasSelection()) return {};
  std::set<int> rows, columns;
  for (const QItemSelectionRange& r : sel->selection()) {
    for (int row = r.top(); row <= r.bottom(); ++row) rows.insert(row);
    for (int c = r.left(); c <= r.right(); ++c) columns.insert(c);
  }
  std::vector<int> order;
  for (int c : ShownColumns())
    if (columns.count(c)) order.push_back(c);
  if (rows.empty() || order.empty()) return {};
  if (rows.size() == 1 && order.size() == 1) return CellText(*rows.begin(), order.front());
  QString out;
  for (int row : rows) {
    QStringList cells;
    for (int c : order)
      cells << (sel->isSelected(model_->index(row, c)) ? CellText(row, c) : QString());
    out += cells.join('\t') + '\n';
  }
  return out;
}

}  // namespace quorvel
