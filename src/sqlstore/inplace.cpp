#include "sqlstore/inplace.h"

#include <algorithm>
#include <climits>
#include <optional>

#include "sqlstore/engine.h"
#include "sqlstore/rowquery.h"

namespace quorvel {
namespace {

constexpr int kIntegerType = 1;

std::string ColumnText(const EngineApi& api, void* stmt, int c) {
  const unsigned char* p = api.column_text(stmt, c);
  const int n = api.column_bytes(stmt, c);
  return p && n > 0 ? std::string(reinterpret_cast<const char*>(p), n) : std::string();
}

}  // namespace

TInPlaceRows::Statement::~Statement() {
  Finalize();
}

void TInPlaceRows::Statement::Finalize() {
  if (stmt) api->finalize(stmt);
  stmt = nullptr;
}

std::unique_ptr<TInPlaceRows> TInPlaceRows::Open(TASQLite3DB& db, const std::string& statement,
                                                 const std::string& table, const std::string& key,
                                                 TASQLite3BaseQuery& dataset) {
  std::unique_ptr<TInPlaceRows> rows(new TInPlaceRows(db, dataset));
  rows->api_ = db.Api();
  // The fields come from the dataset's own statement, as the whole read
  // makes them; its failures are the whole read's.
  {
    Statement s;
    s.api = rows->api_;
    if (rows->api_->prepare_v2(db.Handle(), statement.c_str(), -1, &s.stmt, nullptr) != kEngineOk)
      db.RaiseDatabaseError();
    if (!s.stmt) return nullptr;
    rows->map_ = DescribeColumns(*rows->api_, s.stmt, dataset);
  }
  try {
    if (rows->Prepare(table, key)) return rows;
  } catch (const std::exception&) {
    // Whatever stands in the way, the whole read still gives the rows.
  }
  return nullptr;
}

TInPlaceRows::~TInPlaceRows() = default;

void TInPlaceRows::Prepare(Statement& s, const std::string& text) {
  s.api = api_;
  if (api_->prepare_v2(db_.Handle(), text.c_str(), -1, &s.stmt, nullptr) != kEngineOk || !s.stmt)
    db_.RaiseDatabaseError();
}

bool TInPlaceRows::Prepare(const std::string& table, const std::string& key) {
  table_ = table;
  key_ = key;
  const std::string qt = QuoteName(table), qk = QuoteName(key);
  std::vector<std::string> names;
  {
    Statement s;
    Prepare(s, "SELECT * FROM " + qt + " LIMIT 0");
    const int n = api_->column_count(s.stmt);
    for (int c = 0; c < n; ++c) {
      const char* name = api_->column_name(s.stmt, c);
      names.emplace_back(name ? name : "");
    }
  }
  if (names.size() != map_.fieldOfColumn.size()) return false;
  for (size_t c = 0; c < names.size(); ++c)
    if (SameText(names[c], key)) keyColumn_ = static_cast<int>(c);
  if (keyColumn_ < 0) return false;
  // The rowid under a name no column of the table hides.
  for (const char* alias : {"rowid", "_rowid_", "oid"})
    if (std::none_of(names.begin(), names.end(),
                     [&](const std::string& n) { return SameText(n, alias); })) {
      rowid_ = alias;
      break;
    }
  if (rowid_.empty()) return false;
  PrepareWalk();
  // Preparing the walk also tells a view or a table without rowid, neither
  // of which has one to read by.
  if (api_->column_count(walk_.stmt) != static_cast<int>(names.size()) + 1) return false;
  // The count, and whether every key can be bound back and compared: NULL
  // never compares greater than a key, and a floating-point key would need
  // binding as one.
  // A key that is NULL or a floating-point number is all that cannot be: in
  // the key's index those sort before every text, so with one the index
  // answers from its first entries instead of a walk over every row.
  {
    Statement s;
    Prepare(s, KeyIndex() ? "SELECT count(*), EXISTS (SELECT 1 FROM " + qt + " WHERE " + qk +
                                " IS NULL) OR EXISTS (SELECT 1 FROM " + qt + " WHERE " + qk +
                                " < '' AND typeof(" + qk + ") = 'real') FROM " + qt
                          : "SELECT count(*), ifnull(sum(typeof(" + qk +
                                ") NOT IN ('integer', 'text', 'blob')), 0) FROM " + qt);
    if (api_->step(s.stmt) != kEngineRow) db_.RaiseDatabaseError();
    const int64_t n = api_->column_int64(s.stmt, 0);
    if (n > INT_MAX || api_->column_int64(s.stmt, 1) != 0) return false;
    count_ = static_cast<int>(n);
  }
  // Only a table of the main schema (not a view, not a temporary table) is
  // sure to have rowids that stay put.
  if (!identity_.Note(table_)) return false;
  for (Window& w : windows_) w.rows.SetColumns(dataset_.FieldCount());
  return true;
}

void TInPlaceRows::PrepareWalk() {
  // A table kept in the key's order by an index (the program's staged
  // tables are) is walked through it; any other is sorted once, which is far
  // faster than seeking each of its rows through an index made for it.
  const std::string qk = QuoteName(key_);
  walk_.Finalize();
  Prepare(walk_, "SELECT *, " + rowid_ + " FROM " + QuoteName(table_) + " ORDER BY " +
                     (KeyIndex() ? "" : "+") + qk + ", " + rowid_);
}

void TInPlaceRows::PrepareSeeks() {
  if (seeks_) return;
  EnsureIndex();
  const std::string select = "SELECT *, " + rowid_ + " FROM " + QuoteName(table_);
  const std::string order = " ORDER BY " + QuoteName(key_) + ", " + rowid_;
  head_.Finalize();
  after_.Finalize();
  Prepare(head_, select + order + " LIMIT ?1 OFFSET ?2");
  Prepare(after_, select + " WHERE (" + QuoteName(key_) + ", " + rowid_ + ") > (?1, ?2)" + order +
                      " LIMIT ?3 OFFSET ?4");
  seeks_ = true;
}

void TInPlaceRows::NoteKeys() {
  if (noted_) return;
  // One walk of the index, for the keys that let a window start anywhere
  // without counting from the first row.
  const std::string qk = QuoteName(key_);
  Statement s;
  Prepare(s, "SELECT " + qk + ", " + rowid_ + " FROM " + QuoteName(table_) + " ORDER BY " + qk +
                 ", " + rowid_);
  std::vector<Key> anchors;
  int64_t n = 0;
  int rc;
  while ((rc = api_->step(s.stmt)) == kEngineRow)
    if (++n % kAnchorRows == 0) anchors.push_back(ReadKey(s.stmt, 0, 1));
  if (rc != kEngineDone) db_.RaiseDatabaseError();
  if (n != count_)
    throw AsgError("the table " + table_ + " holds other rows than when it was opened");
  anchors_ = std::move(anchors);
  noted_ = true;
}

bool TInPlaceRows::KeyIndex() {
  Statement s;
  Prepare(s,
          "SELECT 1 FROM pragma_index_list(?1) AS l, pragma_index_xinfo(l.name) AS i "
          "WHERE i.seqno = 0 AND i.name = ?2 COLLATE NOCASE AND i.desc = 0 "
          "AND l.partial = 0 LIMIT 1");
  api_->bind_text(s.stmt, 1, table_.data(), static_cast<int>(table_.size()), EngineTransient());
  api_->bind_text(s.stmt, 2, key_.data(), static_cast<int>(key_.size()), EngineTransient());
  const int rc = api_->step(s.stmt);
  if (rc != kEngineRow && rc != kEngineDone) db_.RaiseDatabaseError();
  return rc == kEngineRow;
}

void TInPlaceRows::EnsureIndex() {
  try {
    if (KeyIndex()) return;
    // A free name: an index keeps its name when its table is renamed, so the
    // obvious one may belong to another table already.
    Statement taken;
    Prepare(taken, "SELECT 1 FROM sqlite_master WHERE name = ?1 COLLATE NOCASE");
    const std::string base = table_ + "_" + key_ + "_order";
    for (int k = 0; k < 100; ++k) {
      const std::string name = k == 0 ? base : base + "_" + std::to_string(k);
      api_->reset(taken.stmt);
      api_->bind_text(taken.stmt, 1, name.data(), static_cast<int>(name.size()), EngineTransient());
      const int rc = api_->step(taken.stmt);
      if (rc == kEngineRow) continue;
      if (rc != kEngineDone) db_.RaiseDatabaseError();
      api_->reset(taken.stmt);
      db_.ExecDirect("CREATE INDEX " + QuoteName(name) + " ON " + QuoteName(table_) + " (" +
                     QuoteName(key_) + ")");
      // Our own change of the schema is no replacement of the table.
      identity_.Renote();
      return;
    }
  } catch (const std::exception&) {
    // Without the index every window sorts the table anew: slow, still right.
  }
}

TInPlaceRows::Key TInPlaceRows::ReadKey(void* stmt, int keyColumn, int rowidColumn) const {
  Key k;
  k.type = api_->column_type(stmt, keyColumn);
  if (k.type == kIntegerType) {
    k.integer = api_->column_int64(stmt, keyColumn);
  } else if (k.type == kEngineBlobType) {
    const void* p = api_->column_blob(stmt, keyColumn);
    const int n = api_->column_bytes(stmt, keyColumn);
    if (p && n > 0) k.bytes.assign(static_cast<const char*>(p), n);
  } else {
    k.bytes = ColumnText(*api_, stmt, keyColumn);
  }
  k.rowid = api_->column_int64(stmt, rowidColumn);
  return k;
}

void TInPlaceRows::BindKey(void* stmt, int first, const Key& key) {
  int rc;
  if (key.type == kIntegerType)
    rc = api_->bind_int64(stmt, first, key.integer);
  else if (key.type == kEngineBlobType)
    // A zero-length blob is still a blob, never NULL: the pointer must not be null.
    rc = api_->bind_blob(stmt, first, key.bytes.data(), static_cast<int>(key.bytes.size()),
                         EngineTransient());
  else
    rc = api_->bind_text(stmt, first, key.bytes.data(), static_cast<int>(key.bytes.size()),
                         EngineTransient());
  if (rc == kEngineOk) rc = api_->bind_int64(stmt, first + 1, key.rowid);
  if (rc != kEngineOk) db_.RaiseDatabaseError();
}

void TInPlaceRows::CheckSchema() {
  if (!replaced_.empty()) throw AsgError(replaced_);
  const TTableIdentity::TChange change = identity_.Check();
  if (change == TTableIdentity::tcRenamed) {
    // The same rows under another name: read on there.
    table_ = identity_.Table();
    PrepareWalk();
    seeks_ = false;
    // A walk under way read the old statement: its next rows come by seeking.
    walkNext_ = 0;
  } else if (change == TTableIdentity::tcReplaced) {
    // For good: the rows held are the old table's, the count is the old
    // table's, and nothing read from now on would be either.
    replaced_ = "the table " + table_ + " was replaced while its rows were being read";
    for (Window& w : windows_) w.start = -1;
    throw AsgError(replaced_);
  }
}

TInPlaceRows::Window* TInPlaceRows::Find(int row) {
  for (Window& w : windows_)
    if (w.start >= 0 && row >= w.start && row < w.start + w.rows.Count()) {
      w.used = ++clock_;
      return &w;
    }
  return nullptr;
}

TInPlaceRows::Window& TInPlaceRows::Target() {
  // An unused window, else the least recently used.
  Window* target = &windows_[0];
  for (Window& w : windows_)
    if (w.start < 0 || w.used < target->used) target = &w;
  target->start = -1;
  target->rows.SetColumns(dataset_.FieldCount());
  return *target;
}

void TInPlaceRows::Fill(Window& w, void* stmt, int start, int wanted) {
  const int rowidColumn = static_cast<int>(map_.fieldOfColumn.size());
  int rc = kEngineRow;
  while (w.rows.Count() < wanted && (rc = api_->step(stmt)) == kEngineRow) {
    // The row's own rowid (the statement's last column), which RowId gives.
    AppendRow(*api_, stmt, map_, dataset_, api_->column_int64(stmt, rowidColumn), scratch_, w.rows);
    if (w.rows.Count() == wanted) w.last = ReadKey(stmt, keyColumn_, rowidColumn);
  }
  if (rc != kEngineRow && rc != kEngineDone) db_.RaiseDatabaseError();
  if (w.rows.Count() < wanted)
    throw AsgError("the table " + table_ + " holds fewer rows than when it was opened");
  w.start = start;
  w.used = ++clock_;
}

TInPlaceRows::Window& TInPlaceRows::Fetch(int row) {
  // A read by name is this table's only if no schema change came between
  // the look at the table and the read (sqlstore/tableidentity.h); the one
  // sorted read of a walk keeps the schema it started with.
  for (int attempt = 0;; ++attempt) {
    // The walk's next window comes from the read already checked.
    const bool goesOn = walking_ && walkNext_ > 0 && row - row % kWindowRows == walkNext_;
    if (goesOn) return FetchOnce(row);
    Window* w = nullptr;
    try {
      w = &FetchOnce(row);
    } catch (...) {
      // A read that failed because it met another table is read again.
      if (!replaced_.empty() || attempt >= 16 || identity_.Unchanged()) throw;
    }
    if (w && identity_.Unchanged()) return *w;
    if (w) w->start = -1;
    if (walking_) {
      api_->reset(walk_.stmt);
      walkNext_ = 0;
    }
    if (attempt >= 16)
      throw AsgError("the table " + table_ + " kept changing while its rows were read");
  }
}

TInPlaceRows::Window& TInPlaceRows::FetchOnce(int row) {
  const int start = row - row % kWindowRows;
  const int wanted = std::min(kWindowRows, count_ - start);

  // A walk in order: the next window of the one sorted read.
  if (walking_ && start == walkNext_) {
    if (start == 0) {
      CheckSchema();
      api_->reset(walk_.stmt);
    }
    Window& w = Target();
    try {
      Fill(w, walk_.stmt, start, wanted);
    } catch (...) {
      api_->reset(walk_.stmt);
      walkNext_ = 0;
      throw;
    }
    walkNext_ = start + wanted;
    if (walkNext_ >= count_) {
      // The last row: the read ends and lets the table go.
      api_->reset(walk_.stmt);
      walkNext_ = 0;
    }
    return w;
  }

  CheckSchema();
  PrepareSeeks();
  // Start from the row before the window: the end of a window held (the
  // next window of a walk in order), else the noted key nearest below.
  std::optional<Key> from;
  int offset = start;
  for (const Window& w : windows_)
    if (w.start >= 0 && w.rows.Count() > 0 && w.start + w.rows.Count() == start) {
      from = w.last;
      offset = 0;
    }
  if (!from && start >= kAnchorRows) {
    NoteKeys();
    const int block = start / kAnchorRows;
    from = anchors_[block - 1];
    offset = start - block * kAnchorRows;
  }
  Window& w = Target();
  void* stmt = from ? after_.stmt : head_.stmt;
  api_->reset(stmt);
  int next = 1;
  if (from) {
    BindKey(stmt, 1, *from);
    next = 3;
  }
  int rc = api_->bind_int64(stmt, next, wanted);
  if (rc == kEngineOk) rc = api_->bind_int64(stmt, next + 1, offset);
  if (rc != kEngineOk) db_.RaiseDatabaseError();
  struct Reset {
    const EngineApi* api;
    void* stmt;
    ~Reset() { api->reset(stmt); }
  } reset{api_, stmt};
  Fill(w, stmt, start, wanted);
  return w;
}

void TInPlaceRows::BeginWalk() {
  api_->reset(walk_.stmt);
  walking_ = true;
  walkNext_ = 0;
}

void TInPlaceRows::EndWalk() {
  api_->reset(walk_.stmt);
  walking_ = false;
  walkNext_ = 0;
}

std::string_view TInPlaceRows::Cell(int row, int col) {
  if (row < 0 || row >= count_ || col < 0 || col >= dataset_.FieldCount()) return {};
  try {
    if (!replaced_.empty()) throw AsgError(replaced_);
    Window* w = Find(row);
    if (!w) w = &Fetch(row);
    return w->rows.Cell(row - w->start, col);
  } catch (const std::exception& e) {
    if (error_.empty()) error_ = e.what();
    return {};
  }
}

int64_t TInPlaceRows::RowId(int row) {
  if (row < 0 || row >= count_) return 0;
  try {
    if (!replaced_.empty()) throw AsgError(replaced_);
    Window* w = Find(row);
    if (!w) w = &Fetch(row);
    return w->rows.GetRowId(row - w->start);
  } catch (const std::exception& e) {
    if (error_.empty()) error_ = e.what();
    return 0;
  }
}

}  // namespace quorvel
