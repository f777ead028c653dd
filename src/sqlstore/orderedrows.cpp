#include "sqlstore/orderedrows.h"

#include <climits>
#include <utility>

#include "sqlstore/engine.h"

namespace quorvel {

TOrderedRows::Statement::~Statement() {
  if (stmt) api->finalize(stmt);
}

void TOrderedRows::Prepare(Statement& s, const std::string& text) {
  s.api = api_;
  if (api_->prepare_v2(db_.Handle(), text.c_str(), -1, &s.stmt, nullptr) != kEngineOk || !s.stmt)
    db_.RaiseDatabaseError();
}

void TOrderedRows::BindFilter(void* stmt) {
  if (parameter_)
    api_->bind_text(stmt, 1, parameter_->data(), static_cast<int>(parameter_->size()),
                    EngineStatic());
}

std::unique_ptr<TOrderedRows> TOrderedRows::Open(TASQLite3DB& db, const TRowQuery& query,
                                                 TASQLite3BaseQuery& dataset) {
  std::unique_ptr<TOrderedRows> rows(new TOrderedRows(db, dataset));
  rows->api_ = db.Api();
  rows->parameter_ = query.Parameter();
  if (!query.Order.empty()) {
    try {
      db.ExecDirect(query.IndexStatement(db));
    } catch (const std::exception&) {
      // Without the index every window sorts anew: slower, never wrong.
    }
  }
  const std::string select = query.Select();
  rows->query_ = query;
  rows->Prepare(rows->walk_, select);
  rows->map_ = DescribeColumns(*rows->api_, rows->walk_.stmt, dataset);
  {
    Statement count;
    rows->Prepare(count, query.Count());
    rows->BindFilter(count.stmt);
    if (rows->api_->step(count.stmt) != kEngineRow) db.RaiseDatabaseError();
    const int64_t n = rows->api_->column_int64(count.stmt, 0);
    if (n > INT_MAX) throw AsgError("too many rows to show: " + std::to_string(n));
    rows->count_ = static_cast<int>(n);
  }
  rows->Prepare(rows->window_, select + " LIMIT ?2 OFFSET ?3");
  for (Window& w : rows->windows_) w.rows.SetColumns(dataset.FieldCount());
  // A table that is not one (a view) is read by its name alone.
  rows->identified_ = rows->identity_.Note(query.Table);
  return rows;
}

void TOrderedRows::CheckTable() {
  if (!identified_) return;
  if (!replaced_.empty()) throw AsgError(replaced_);
  const TTableIdentity::TChange change = identity_.Check();
  if (change == TTableIdentity::tcRenamed) {
    // The same rows under another name (published, or set aside by another
    // run's publish): read on there.
    query_.Table = identity_.Table();
    const std::string select = query_.Select();
    Statement walk, window;
    Prepare(walk, select);
    Prepare(window, select + " LIMIT ?2 OFFSET ?3");
    std::swap(walk_.stmt, walk.stmt);
    std::swap(window_.stmt, window.stmt);
    // A walk under way read the old statement: its next rows come by position.
    walkNext_ = 0;
  } else if (change == TTableIdentity::tcReplaced) {
    // For good: nothing read from now on would be the rows counted.
    replaced_ = "the table " + query_.Table + " was replaced while its rows were being read";
    for (Window& w : windows_) {
      w.start = -1;
      w.rows.Clear();
    }
    throw AsgError(replaced_);
  }
}

TOrderedRows::~TOrderedRows() = default;

void TOrderedRows::BeginWalk() {
  walking_ = true;
  walkNext_ = 0;
  api_->reset(walk_.stmt);
}

void TOrderedRows::EndWalk() {
  walking_ = false;
  walkNext_ = 0;
  api_->reset(walk_.stmt);
}

void TOrderedRows::Fill(Window& w, void* stmt, int start) {
  w.rows.Clear();
  w.start = start;
  const int wanted = std::min(kWindowRows, count_ - start);
  for (int i = 0; i < wanted; ++i) {
    const int rc = api_->step(stmt);
    if (rc == kEngineRow) {
      AppendRow(*api_, stmt, map_, dataset_, start + i, scratch_, w.rows);
      continue;
    }
    if (error_.empty())
      error_ = rc == kEngineDone ? std::string("the rows changed while they were read")
                                 : std::string(api_->errmsg(db_.Handle()));
    break;
  }
}

TOrderedRows::Window* TOrderedRows::Fetch(int row) {
  if (row < 0 || row >= count_) return nullptr;
  const int start = row / kWindowRows * kWindowRows;
  Window* target = &windows_[0];
  for (Window& w : windows_) {
    if (w.start == start) {
      w.used = ++clock_;
      return &w;
    }
    if (w.used < target->used) target = &w;
  }
  try {
    // A read by name is this table's only if no schema change came between
    // the look at the table and the read (sqlstore/tableidentity.h); a walk
    // goes on in the one read it started, with the schema it started with.
    const std::string before = error_;
    for (int attempt = 0;; ++attempt) {
      // The walk's next window comes from the read already checked.
      const bool goesOn = walking_ && start == walkNext_ && start > 0;
      if (!goesOn) CheckTable();
      ReadWindow(*target, start);
      if (goesOn || !identified_ || identity_.Unchanged()) break;
      // Met another table: whatever that read said is not this table's.
      error_ = before;
      if (walking_) {
        api_->reset(walk_.stmt);
        walkNext_ = 0;
      }
      if (attempt >= 16)
        throw AsgError("the table " + query_.Table + " kept changing while its rows were read");
    }
  } catch (const std::exception& e) {
    if (error_.empty()) error_ = e.what();
    target->rows.Clear();
  }
  target->used = ++clock_;
  return target;
}

void TOrderedRows::ReadWindow(Window& w, int start) {
  if (walking_ && start == walkNext_) {
    if (start == 0) {
      api_->reset(walk_.stmt);
      BindFilter(walk_.stmt);
    }
    Fill(w, walk_.stmt, start);
    walkNext_ = start + w.rows.Count();
    if (walkNext_ >= count_) EndWalk();
  } else {
    api_->reset(window_.stmt);
    BindFilter(window_.stmt);
    api_->bind_int64(window_.stmt, 2, kWindowRows);
    api_->bind_int64(window_.stmt, 3, start);
    Fill(w, window_.stmt, start);
    api_->reset(window_.stmt);
  }
}

std::string_view TOrderedRows::Cell(int row, int col) {
  Window* w = Fetch(row);
  if (!w || row - w->start >= w->rows.Count() || col < 0 || col >= w->rows.Columns()) return {};
  return w->rows.Cell(row - w->start, col);
}

int64_t TOrderedRows::RowId(int row) {
  Window* w = Fetch(row);
  if (!w || row - w->start >= w->rows.Count()) return 0;
  return w->rows.GetRowId(row - w->start);
}

}  // namespace quorvel
