#include "store/changes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>
#include <exception>
#include <random>

#include "store/data.h"
#include "store/stagedtable.h"

namespace quorvel {

const std::vector<std::string> kChangeColumns = {"change", "dn", "attribute", "old", "new"};

namespace {

void RollBackQuietly(TASQLite3DB& db) {
  try {
    if (db.InTransaction()) db.RollBack();
  } catch (...) {
  }
}

// The snapshots in the history file: the search and the time of each, and
// the exact values of each profile's run in a table of its own, laid out as
// the run's values table (one packed row per entry, sqlstore/entryvalues.h),
// so that keeping a run is one copy in key order. A snapshot of the earlier
// layout (one row per value, without the names received) is still compared
// with; the next run kept replaces it.
constexpr const char* kHistorySchema =
    "CREATE TABLE IF NOT EXISTS history.snapshots (profile INTEGER PRIMARY KEY, server TEXT, "
    "basedn TEXT, scope INTEGER, filter TEXT, att TEXT, taken TEXT)";
constexpr const char* kSnapshotColumns = " (entry INTEGER PRIMARY KEY, packed BLOB NOT NULL)";

// A step of keeping a snapshot that failed: its transaction rolled back and
// the reason in `error`; false.
bool NotKept(TASQLite3DB& db, const std::exception& e, std::string& error) {
  RollBackQuietly(db);
  error = std::string("The snapshot could not be kept in the history file: ") + e.what();
  return false;
}

std::string SnapshotTable(int profile) {
  return "history." + QuoteIdentifier("snapshot_values_" + std::to_string(profile));
}

// A run being kept is first copied into a table of its own,
// "snapshot_next_<profile>_" and 16 hexadecimal digits, which then takes the
// snapshot's name.
std::string PreparedCopyPrefix(int profile) {
  return "snapshot_next_" + std::to_string(profile) + "_";
}

// 16 random hexadecimal digits, for a table of the history file's own.
std::string RandomSuffix() {
  std::random_device random;
  char suffix[17];
  std::snprintf(suffix, sizeof suffix, "%08x%08x", random(), random());
  return suffix;
}

std::string PreparedCopyName(int profile) {
  return PreparedCopyPrefix(profile) + RandomSuffix();
}

// Overwrites every free page of the history file with zeros, in the open
// transaction, with secure_delete on: a table of zero-filled values takes
// the free pages (which the engine then writes without saving them first in
// its journal, as they held nothing at the start of the transaction) and is
// dropped again, leaving them zeroed and free.
void ZeroFreePages(TASQLite3DB& db) {
  PreparedStatement free(db, "PRAGMA history.freelist_count");
  auto freePages = [&free] {
    const int64_t n = free.Step() ? free.ColumnInt64(0) : 0;
    free.Reset();
    return n;
  };
  const int64_t before = freePages();
  if (before == 0) return;
  const std::string table = "history." + QuoteIdentifier("zeroed_" + RandomSuffix());
  db.ExecDirect("CREATE TABLE " + table + " (z BLOB)");
  PreparedStatement fill(db, "INSERT INTO " + table + " VALUES (zeroblob(1048576))");
  // Each value takes at least a page, so this ends however the engine
  // hands its free pages out.
  for (int64_t n = 0; n < before && freePages() > 0; ++n) fill.Run();
  db.ExecDirect("DROP TABLE " + table);
}

// The statements that drop every copy of the profile in the history file.
std::string DropPreparedCopies(TASQLite3DB& db, int profile) {
  PreparedStatement q(db,
                      "SELECT name FROM history.sqlite_master WHERE type = 'table' AND "
                      "substr(name, 1, length(?1)) = ?1");
  const std::string prefix = PreparedCopyPrefix(profile);  // bound, not copied
  q.BindText(1, prefix);
  std::string drop;
  while (q.Step())
    drop += "DROP TABLE history." + QuoteIdentifier(std::string(q.ColumnBytes(0))) + ";";
  return drop;
}

constexpr const char* kStageTables[] = {"coe", "crow"};

// The entries of a values table by identity, in temp table `side`: the
// identity, the entry, the DN. An entry without the identity value is known
// by a zero byte and its DN, which no identity value equals. The rows go in
// in key order, one sorted pass. `packed`: the table holds a packed row per
// entry, else (the earlier layout) a row per value.
std::string IdentityStatements(const std::string& side, const std::string& values, int identity,
                               bool packed) {
  const std::string create =
      "CREATE TEMP TABLE " + side +
      " (ident BLOB PRIMARY KEY, entry INTEGER NOT NULL, dn BLOB NOT NULL) WITHOUT ROWID;"
      "INSERT OR IGNORE INTO " +
      side;
  if (packed) {
    const std::string f = kEntryValueFunction;
    const std::string dn = "CAST(coalesce(" + f + "(d.packed, 0), X'') AS BLOB)";
    const std::string ident = identity == 0 ? dn
                                            : "CAST(coalesce(" + f + "(d.packed, " +
                                                  std::to_string(identity) + "), X'00' || " + dn +
                                                  ") AS BLOB)";
    return create + " SELECT " + ident + ", d.entry, " + dn + " FROM " + values + " d ORDER BY 1;";
  }
  const std::string ident =
      identity == 0 ? "d.value" : "CAST(coalesce(i.value, X'00' || d.value) AS BLOB)";
  const std::string identJoin =
      identity == 0 ? ""
                    : " LEFT JOIN " + values +
                          " i ON i.entry = d.entry AND i.col = " + std::to_string(identity) +
                          " AND i.position = 0";
  return create + " SELECT " + ident + ", d.entry, d.value FROM " + values + " d" + identJoin +
         " WHERE d.col = 0 ORDER BY 1;";
}

// The change rows before their order: dn, column, kind (0 added, 1 renamed,
// 2 removed, 3 changed), old and new value (NULL for none).
constexpr const char* kChangeRowTable =
    "CREATE TEMP TABLE crow (dn BLOB NOT NULL, col INTEGER NOT NULL, kind INTEGER NOT NULL, "
    "old BLOB, new BLOB)";
constexpr const char* kOrderedChangeRows =
    "SELECT dn, kind, col, old, new FROM crow ORDER BY dn, col, coalesce(old, new), kind";

// One entry's values by column (index 0, the DN's, stays empty).
struct TEntryColumns {
  int64_t entry = 0;
  std::string dn;
  std::vector<std::vector<std::string>> cols;
  void Reset(int64_t at, std::size_t columns) {
    entry = at;
    dn.clear();
    if (cols.size() != columns + 1) cols.resize(columns + 1);
    for (auto& c : cols) c.clear();
  }
  // The identity the snapshot's entries are known by (IdentityStatements).
  void Identity(int identity, std::string& out) const {
    const auto k = static_cast<std::size_t>(identity);
    if (identity > 0 && k < cols.size() && !cols[k].empty()) {
      out = cols[k][0];
      return;
    }
    out.clear();
    if (identity > 0) out.push_back('\0');
    out += dn;
  }
};

// The values of a values table read entry by entry: one read in key order
// that goes on from where the last entry ended, so that entries asked for in
// the table's order (the run's) are read sequentially and those of a
// snapshot whose entries came in the same order nearly so; an entry further
// on, or back, starts the read anew there.
class TEntryCursor {
 public:
  TEntryCursor(TASQLite3DB& db, const std::string& values, bool packed)
      : packed_(packed),
        q_(db, packed ? "SELECT entry, packed FROM " + values + " WHERE entry >= ?1 ORDER BY entry"
                      : "SELECT entry, col, value FROM " + values +
                            " WHERE entry >= ?1 ORDER BY entry, col, position") {}
  // The entry `entry` (empty when the table has none such).
  void Read(int64_t entry, std::size_t columns, TEntryColumns& out) {
    if (!live_ || entry < at_ || entry > at_ + kNear) Seek(entry);
    while (live_ && at_ < entry) Next();
    Take(entry, columns, out);
  }
  // The entry after the last one read; false after the last.
  bool ReadNext(std::size_t columns, TEntryColumns& out) {
    if (!started_) Seek(0);
    if (!live_) return false;
    Take(at_, columns, out);
    return true;
  }

 private:
  static constexpr int64_t kNear = 16;  // entries stepped over rather than sought
  void Take(int64_t entry, std::size_t columns, TEntryColumns& out) {
    out.Reset(entry, columns);
    if (packed_) return TakePacked(entry, columns, out);
    while (live_ && at_ == entry) {
      const int64_t col = q_.ColumnInt64(1);
      if (col == 0)
        out.dn.assign(q_.ColumnBytes(2));
      else if (col > 0 && static_cast<std::size_t>(col) <= columns)
        out.cols[static_cast<std::size_t>(col)].emplace_back(q_.ColumnBytes(2));
      Next();
    }
  }
  // A packed row: its values moved into the columns (a blob that is not
  // one gives what it held up to where it breaks).
  void TakePacked(int64_t entry, std::size_t columns, TEntryColumns& out) {
    if (!live_ || at_ != entry) return;
    UnpackEntryValues(q_.ColumnBytes(1), columns + 1, unpacked_);
    out.dn.swap(unpacked_.DN);
    for (std::size_t c = 1; c <= columns; ++c) out.cols[c].swap(unpacked_.Columns[c].Values);
    Next();
  }
  void Seek(int64_t entry) {
    started_ = true;
    if (live_) q_.Reset();
    q_.BindInt64(1, entry);
    live_ = true;
    Next();
  }
  void Next() {
    live_ = q_.Step();
    if (live_) at_ = q_.ColumnInt64(0);
  }
  bool packed_;
  PreparedStatement q_;
  bool started_ = false, live_ = false;
  int64_t at_ = 0;
  TEntryValues unpacked_;
};

bool BinaryName(std::string_view name) {
  for (std::size_t i = 0; i + 7 <= name.size(); ++i) {
    std::string piece(name.substr(i, 7));
    for (char& c : piece) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (piece == ";binary") return true;
  }
  return false;
}

// An index name of the table's own: the in-place reader tells a table made
// anew by the names of its indexes.
std::string OwnIndexName(const std::string& table) {
  std::random_device random;
  char suffix[20];
  std::snprintf(suffix, sizeof suffix, "%08x%08x", random(), random());
  return table + "_order_" + suffix;
}

// The text of one value of a requested column as the grid shows it; no
// value (NULL on that side) reads as empty bytes and shows empty.
std::string ShownValue(std::string_view raw, const TRequestedColumn& column) {
  if (raw.empty()) return std::string();
  return ValueCellText(raw, BinaryName(column.name), column.form);
}

// Temporary tables and sorts on disk while a comparison runs, so that its
// memory stays a few pages whatever the runs hold; the connection's own
// setting comes back afterwards. (Changing it drops the connection's
// temporary tables: only the comparison's own live there.)
class TTemporaryOnDisk {
 public:
  explicit TTemporaryOnDisk(TASQLite3DB& db) : db_(db) {
    PreparedStatement q(db_, "PRAGMA temp_store");
    if (q.Step()) {
      previous_ = q.ColumnInt64(0);
      q.Reset();
    }
    if (previous_ != kFile) db_.ExecDirect("PRAGMA temp_store=FILE");
  }
  ~TTemporaryOnDisk() {
    try {
      // Left by a failed comparison: its own transaction, rolled back here
      // so that the setting can change.
      if (previous_ != kFile && db_.InTransaction()) db_.RollBack();
      if (previous_ != kFile) db_.ExecDirect("PRAGMA temp_store=" + std::to_string(previous_));
    } catch (...) {
    }
  }
  TTemporaryOnDisk(const TTemporaryOnDisk&) = delete;
  TTemporaryOnDisk& operator=(const TTemporaryOnDisk&) = delete;

 private:
  static constexpr int64_t kFile = 1;
  TASQLite3DB& db_;
  int64_t previous_ = kFile;
};

}  // namespace

bool TSnapshotFacts::Same(const TSnapshotFacts& o) const {
  return server == o.server && basedn == o.basedn && scope == o.scope && filter == o.filter &&
         att == o.att;
}

std::string TChangeCounts::Text() const {
  return std::to_string(added) + (added == 1 ? " entry" : " entries") + " added, " +
         std::to_string(removed) + " removed, " + std::to_string(renamed) + " renamed, " +
         std::to_string(changed) + " changed";
}

std::string HistoryFile(const std::string& catalogue) {
  const std::size_t slash = catalogue.rfind('/');
  return (slash == std::string::npos ? std::string() : catalogue.substr(0, slash + 1)) +
         "history.db";
}

int IdentityColumn(const std::vector<TRequestedColumn>& columns) {
  for (std::size_t c = 0; c < columns.size(); ++c) {
    std::string name = TrimControl(columns[c].name);
    for (char& ch : name) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (name == "objectguid" || name == "entryuuid" || name == "nsuniqueid" ||
        name == "ipauniqueid")
      return static_cast<int>(c + 1);
  }
  return 0;
}

std::string SnapshotTime() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
  return text;
}

bool CreateChangeTable(TASQLite3DB& db, const std::string& table, std::string& error) {
  try {
    const std::string t = QuoteIdentifier(table);
    db.ExecDirect("DROP TABLE IF EXISTS " + t + "; CREATE TABLE " + t + " (" +
                  ExportColumnDefinitions(kChangeColumns) + "); CREATE INDEX " +
                  QuoteIdentifier(OwnIndexName(table)) + " ON " + t + " (dn)");
    return true;
  } catch (const std::exception& e) {
    error = std::string("The change rows could not be stored in the working store: ") + e.what();
    return false;
  }
}

THistory::~THistory() {
  try {
    DropPrepared();
  } catch (...) {
    RollBackQuietly(working_);
  }
  try {
    DropStage();
    if (attached_) working_.ExecDirect("DETACH DATABASE history");
  } catch (...) {
  }
}

void THistory::DropStage() {
  std::string drop;
  for (const char* t : kStageTables) drop += std::string("DROP TABLE IF EXISTS temp.") + t + ";";
  working_.ExecDirect(drop);
}

bool THistory::Open(const std::string& file, std::string& error) {
  // Owner-only from the first byte: the snapshots hold directory values.
  const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = "The history file " + file + " cannot be opened: " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) == 0 && (st.st_mode & 077) != 0) ::fchmod(fd, st.st_mode & 0700);
  ::close(fd);
  try {
    PreparedStatement attach(working_, "ATTACH DATABASE ?1 AS history");
    attach.BindText(1, file);
    attach.Run();
    attached_ = true;
    // A rollback journal on disk, whatever the working store does: a run
    // stopped half-way through keeping a snapshot leaves the one before.
    // Replacing a profile's snapshot frees the pages of the one before and
    // reuses them at once for the new one: they are not zeroed first
    // (secure_delete=FAST, where the engine's default may be ON), which made
    // every kept run of a million entries rewrite the old one's 170 MB.
    working_.ExecDirect(
        "PRAGMA history.journal_mode=DELETE; PRAGMA history.synchronous=FULL; "
        "PRAGMA history.secure_delete=FAST");
    working_.ExecDirect(kHistorySchema);
    // The tables of an earlier layout go, with the snapshots they held.
    working_.ExecDirect(
        "DROP TABLE IF EXISTS history.snapshot_entries; DROP TABLE IF EXISTS "
        "history.snapshot_values; DROP TABLE IF EXISTS history.snapshot_counts");
  } catch (const std::exception& e) {
    error = "The history file " + file + " cannot be used: " + e.what();
    return false;
  }
  return true;
}

bool THistory::Snapshot(int profile, std::optional<TSnapshotFacts>& out, std::string& error) {
  out.reset();
  try {
    PreparedStatement q(working_,
                        "SELECT server, basedn, scope, filter, att, taken FROM history.snapshots "
                        "WHERE profile = ?1");
    q.BindInt64(1, profile);
    if (!q.Step()) return true;
    q.Reset();
    if (!HasSnapshotTable(profile)) return true;
    q.BindInt64(1, profile);
    q.Step();
    TSnapshotFacts f;
    f.server.assign(q.ColumnBytes(0));
    f.basedn.assign(q.ColumnBytes(1));
    f.scope = static_cast<int>(q.ColumnInt64(2));
    f.filter.assign(q.ColumnBytes(3));
    f.att.assign(q.ColumnBytes(4));
    f.taken.assign(q.ColumnBytes(5));
    q.Reset();
    out = std::move(f);
    return true;
  } catch (const std::exception& e) {
    error = std::string("The snapshot cannot be read from the history file: ") + e.what();
    return false;
  }
}

void THistory::Stage(int profile, int identity, bool packed) {
  DropStage();
  working_.ExecDirect(IdentityStatements("coe", SnapshotTable(profile), identity, packed) +
                      kChangeRowTable);
}

namespace {

// Stores change rows (dn, column, kind, old, new) in crow; no value is NULL.
class TChangeRowPut {
 public:
  explicit TChangeRowPut(TASQLite3DB& db)
      : put_(db, "INSERT INTO crow VALUES (?1, ?2, ?3, ?4, ?5)") {}
  void Put(const std::string& dn, std::size_t col, int kind, const std::string* old,
           const std::string* now) {
    put_.BindBlob(1, dn);
    put_.BindInt64(2, static_cast<int64_t>(col));
    put_.BindInt64(3, kind);
    old ? put_.BindBlob(4, *old) : put_.BindNull(4);
    now ? put_.BindBlob(5, *now) : put_.BindNull(5);
    put_.Run();
  }
  // Every value of an entry added (kind 0, new) or removed (kind 2, old); one
  // row without an attribute when it has none.
  void Entry(const std::string& dn, int kind, const TEntryColumns& e) {
    bool any = false;
    for (std::size_t c = 1; c < e.cols.size(); ++c)
      for (const std::string& v : e.cols[c]) {
        Put(dn, c, kind, kind == 2 ? &v : nullptr, kind == 2 ? nullptr : &v);
        any = true;
      }
    if (!any) Put(dn, 0, kind, nullptr, nullptr);
  }
  // The attributes whose values differ (as sets of byte strings): one row
  // with both values when each side has one, else a row per value removed
  // and per value added. Whether there was any.
  bool Changed(const std::string& dn, const TEntryColumns& before, const TEntryColumns& now) {
    bool any = false;
    for (std::size_t c = 1; c < now.cols.size() && c < before.cols.size(); ++c) {
      if (before.cols[c] == now.cols[c]) continue;
      std::vector<std::string> a = before.cols[c], b = now.cols[c];
      for (auto* set : {&a, &b}) {
        std::sort(set->begin(), set->end());
        set->erase(std::unique(set->begin(), set->end()), set->end());
      }
      if (a == b) continue;
      any = true;
      if (a.size() == 1 && b.size() == 1) {
        Put(dn, c, 3, &a[0], &b[0]);
        continue;
      }
      std::vector<std::string> gone, added;
      std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(gone));
      std::set_difference(b.begin(), b.end(), a.begin(), a.end(), std::back_inserter(added));
      for (const std::string& v : gone) Put(dn, c, 3, &v, nullptr);
      for (const std::string& v : added) Put(dn, c, 3, nullptr, &v);
    }
    return any;
  }

 private:
  PreparedStatement put_;
};

}  // namespace

void THistory::Walk(const std::string& values, int profile, int identity, std::size_t columns,
                    bool packedSnapshot, TChangeCounts& counts) {
  PreparedStatement find(working_, "SELECT entry, dn FROM coe WHERE ident = ?1");
  PreparedStatement all(working_, "SELECT entry, dn FROM coe");
  // The snapshot's entries met, one bit each (its entries are the rowids of
  // a run's rows: about as many as it has entries).
  std::vector<bool> seen;
  {
    PreparedStatement last(working_, "SELECT ifnull(max(entry), 0) FROM coe");
    if (last.Step()) {
      seen.assign(static_cast<std::size_t>(std::max<int64_t>(0, last.ColumnInt64(0))) + 1, false);
      last.Reset();
    }
  }
  TEntryCursor nowValues(working_, values, true),
      oldValues(working_, SnapshotTable(profile), packedSnapshot);
  TChangeRowPut put(working_);
  TEntryColumns now, before;
  std::string ident, oldDn;
  // Each entry of the run in its order, with the snapshot's entry of the
  // same identity.
  while (nowValues.ReadNext(columns, now)) {
    now.Identity(identity, ident);
    find.BindBlob(1, ident);
    if (!find.Step()) {
      ++counts.added;
      put.Entry(now.dn, 0, now);
      continue;
    }
    const int64_t was = find.ColumnInt64(0);
    oldDn.assign(find.ColumnBytes(1));
    find.Reset();
    if (was >= 0 && static_cast<std::size_t>(was) < seen.size())
      seen[static_cast<std::size_t>(was)] = true;
    oldValues.Read(was, columns, before);
    if (oldDn != now.dn) {
      ++counts.renamed;
      put.Put(now.dn, 0, 1, &oldDn, &now.dn);
    }
    if (put.Changed(now.dn, before, now)) ++counts.changed;
  }
  // The snapshot's entries the run does not have.
  while (all.Step()) {
    const int64_t was = all.ColumnInt64(0);
    if (was >= 0 && static_cast<std::size_t>(was) < seen.size() &&
        seen[static_cast<std::size_t>(was)])
      continue;
    oldDn.assign(all.ColumnBytes(1));
    oldValues.Read(was, columns, before);
    ++counts.removed;
    put.Entry(oldDn, 2, before);
  }
}

void THistory::WriteChangeRows(const std::vector<TRequestedColumn>& columns,
                               const std::string& changesTable, TChangeCounts& counts) {
  static const char* const kKinds[] = {"added", "renamed", "removed", "changed"};
  PreparedStatement insert(
      working_, "INSERT INTO " + QuoteIdentifier(changesTable) + " VALUES (?, ?, ?, ?, ?)");
  PreparedStatement rows(working_, kOrderedChangeRows);
  std::string dn, attribute, oldText, newText;
  while (rows.Step()) {
    dn.assign(rows.ColumnBytes(0));
    const int kind = static_cast<int>(rows.ColumnInt64(1));
    const int64_t col = rows.ColumnInt64(2);
    if (kind == 1) {
      attribute = "dn";
      oldText.assign(rows.ColumnBytes(3));
      newText.assign(rows.ColumnBytes(4));
    } else if (col >= 1 && static_cast<std::size_t>(col) <= columns.size()) {
      const TRequestedColumn& c = columns[static_cast<std::size_t>(col - 1)];
      attribute = TrimControl(c.name);
      oldText = ShownValue(rows.ColumnBytes(3), c);
      newText = ShownValue(rows.ColumnBytes(4), c);
    } else {
      attribute.clear();
      oldText.clear();
      newText.clear();
    }
    insert.BindText(1, kKinds[kind]);
    insert.BindText(2, dn);
    insert.BindText(3, attribute);
    insert.BindText(4, oldText);
    insert.BindText(5, newText);
    insert.Run();
    ++counts.rows;
  }
}

bool THistory::HasSnapshotTable(int profile) {
  PreparedStatement q(working_,
                      "SELECT 1 FROM history.sqlite_master WHERE type = 'table' AND name = ?1");
  const std::string name = "snapshot_values_" + std::to_string(profile);
  q.BindText(1, name);
  const bool found = q.Step();
  if (found) q.Reset();
  return found;
}

bool THistory::HasEarlierLayout(int profile) {
  PreparedStatement q(working_,
                      "SELECT 1 FROM pragma_table_info(?1, 'history') WHERE name = 'position'");
  const std::string name = "snapshot_values_" + std::to_string(profile);  // bound, not copied
  q.BindText(1, name);
  const bool found = q.Step();
  if (found) q.Reset();
  return found;
}

bool THistory::Compare(int profile, const std::string& rowsTable,
                       const std::vector<TRequestedColumn>& columns,
                       const std::string& changesTable, TChangeCounts& counts, std::string& error) {
  counts = TChangeCounts();
  if (!CreateChangeTable(working_, changesTable, error)) return false;
  try {
    const TTemporaryOnDisk onDisk(working_);
    // The run's rows may be published (`export`) or set aside under their
    // own name by another program's publish meanwhile: they are found and
    // read in one read transaction, which no rename can come between. The
    // change rows wait in a temporary table meanwhile.
    working_.StartTransaction("DEFERRED");
    const std::string values = QuoteIdentifier(EntryValuesTable(RunRowsTable(working_, rowsTable)));
    const bool packed = !HasEarlierLayout(profile);
    Stage(profile, IdentityColumn(columns), packed);
    Walk(values, profile, IdentityColumn(columns), columns.size(), packed, counts);
    working_.Commit();
    working_.StartTransaction("IMMEDIATE");
    WriteChangeRows(columns, changesTable, counts);
    working_.Commit();
    DropStage();
  } catch (const std::exception& e) {
    RollBackQuietly(working_);
    error = std::string("The runs could not be compared in the working store: ") + e.what();
    return false;
  }
  return true;
}

bool THistory::Keep(int profile, const TSnapshotFacts& facts, const std::string& rowsTable,
                    std::string& error) {
  return Prepare(profile, rowsTable, error) && Replace(profile, facts, error);
}

bool THistory::Prepare(int profile, const std::string& rowsTable, std::string& error) {
  try {
    // Written first: the history file is locked for writing before the
    // run's values are read (no upgrade from reading to wait on).
    working_.StartTransaction("IMMEDIATE");
    // Earlier copies of this profile go first: their pages are free for
    // this copy once it commits.
    working_.ExecDirect(DropPreparedCopies(working_, profile));
    const std::string name = PreparedCopyName(profile);
    const std::string table = "history." + QuoteIdentifier(name);
    working_.ExecDirect("CREATE TABLE " + table + kSnapshotColumns);
    const std::string values = QuoteIdentifier(EntryValuesTable(RunRowsTable(working_, rowsTable)));
    working_.ExecDirect("INSERT INTO " + table + " SELECT entry, packed FROM " + values +
                        " ORDER BY entry");
    working_.Commit();
    prepared_ = name;
    preparedProfile_ = profile;
  } catch (const std::exception& e) {
    return NotKept(working_, e, error);
  }
  return true;
}

bool THistory::PrepareStart(int profile, std::string& error) {
  try {
    if (!prepared_.empty()) DropPrepared();
    working_.StartTransaction("IMMEDIATE");
    working_.ExecDirect(DropPreparedCopies(working_, profile));
    const std::string name = PreparedCopyName(profile);
    working_.ExecDirect("CREATE TABLE history." + QuoteIdentifier(name) + kSnapshotColumns);
    working_.Commit();
    prepared_ = name;
    preparedProfile_ = profile;
    copiedUpTo_ = 0;
  } catch (const std::exception& e) {
    return NotKept(working_, e, error);
  }
  return true;
}

bool THistory::PrepareMore(const std::string& valuesTable, bool anew, std::string& error) {
  if (prepared_.empty()) {
    error = "The snapshot could not be kept in the history file: the run was not copied into it";
    return false;
  }
  const std::string table = "history." + QuoteIdentifier(prepared_);
  try {
    // Deferred: the step's first statement writes the history file, whose
    // lock it waits for; the run's store is only read, and its writer
    // goes on meanwhile.
    working_.StartTransaction();
    if (anew) {
      working_.ExecDirect("DELETE FROM " + table);
      copiedUpTo_ = 0;
    }
    PreparedStatement copy(working_, "INSERT INTO " + table + " SELECT entry, packed FROM main." +
                                         QuoteIdentifier(valuesTable) +
                                         " WHERE entry > ?1 ORDER BY entry");
    copy.BindInt64(1, copiedUpTo_);
    copy.Run();
    PreparedStatement last(working_, "SELECT ifnull(max(entry), 0) FROM " + table);
    const int64_t upTo = last.Step() ? last.ColumnInt64(0) : 0;
    last.Reset();
    working_.Commit();
    copiedUpTo_ = upTo;
  } catch (const std::exception& e) {
    return NotKept(working_, e, error);
  }
  return true;
}

bool THistory::Replace(int profile, const TSnapshotFacts& facts, std::string& error) {
  if (prepared_.empty() || preparedProfile_ != profile) {
    error = "The snapshot could not be kept in the history file: the run was not copied into it";
    return false;
  }
  try {
    working_.StartTransaction("IMMEDIATE");
    PreparedStatement copy(
        working_, "SELECT 1 FROM history.sqlite_master WHERE type = 'table' AND name = ?1");
    copy.BindText(1, prepared_);
    if (!copy.Step()) {
      working_.RollBack();
      prepared_.clear();
      error =
          "The snapshot could not be kept in the history file: another run of the same profile "
          "was being kept at the same time and took its place";
      return false;
    }
    copy.Reset();
    working_.ExecDirect("DROP TABLE IF EXISTS " + SnapshotTable(profile) +
                        "; ALTER TABLE history." + QuoteIdentifier(prepared_) + " RENAME TO " +
                        QuoteIdentifier("snapshot_values_" + std::to_string(profile)));
    PreparedStatement put(working_,
                          "INSERT OR REPLACE INTO history.snapshots (profile, server, basedn, "
                          "scope, filter, att, taken) VALUES (?, ?, ?, ?, ?, ?, ?)");
    put.BindInt64(1, profile);
    put.BindText(2, facts.server);
    put.BindText(3, facts.basedn);
    put.BindInt64(4, facts.scope);
    put.BindText(5, facts.filter);
    put.BindText(6, facts.att);
    put.BindText(7, facts.taken);
    put.Run();
    working_.Commit();
    prepared_.clear();
  } catch (const std::exception& e) {
    return NotKept(working_, e, error);
  }
  return true;
}

// A copy that was prepared and not made the snapshot (a report that was not
// written, a replacement that failed): dropped, so that it holds no room
// until the next run.
void THistory::DropPrepared() {
  if (prepared_.empty()) return;
  const std::string name = std::move(prepared_);
  prepared_.clear();
  working_.StartTransaction("IMMEDIATE");
  working_.ExecDirect("DROP TABLE IF EXISTS history." + QuoteIdentifier(name));
  working_.Commit();
}

bool THistory::Forget(int profile, std::string& error) {
  try {
    // The values of a deleted profile are zeroed where they were: no new
    // snapshot takes their place. So are the pages already free, which may
    // hold the profile's snapshots before the last one.
    working_.ExecDirect("PRAGMA history.secure_delete=ON");
    working_.StartTransaction("IMMEDIATE");
    working_.ExecDirect(
        DropPreparedCopies(working_, profile) + "DROP TABLE IF EXISTS " + SnapshotTable(profile) +
        "; DELETE FROM history.snapshots WHERE profile = " + std::to_string(profile));
    ZeroFreePages(working_);
    working_.Commit();
    working_.ExecDirect("PRAGMA history.secure_delete=FAST");
    return true;
  } catch (const std::exception& e) {
    RollBackQuietly(working_);
    error = std::string("The snapshot could not be removed from the history file: ") + e.what();
    return false;
  }
}

bool ForgetSnapshots(TASQLite3DB& working, const std::string& file,
                     const std::vector<int>& profiles, std::string& error) {
  struct stat st {};
  if (profiles.empty() || ::stat(file.c_str(), &st) != 0) return true;
  THistory history(working);
  if (!history.Open(file, error)) return false;
  for (int profile : profiles)
    if (!history.Forget(profile, error)) return false;
  return true;
}

bool CompareRun(THistory& history, int profile, const TSnapshotFacts& now, bool complete,
                const std::string& rowsTable, const std::vector<TRequestedColumn>& columns,
                const std::string& changesTable, TChangeOutcome& out, std::string& error) {
  out = TChangeOutcome();
  if (!history.Snapshot(profile, out.snapshot, error)) return false;
  out.keep = complete;
  const std::string since = out.snapshot ? " of " + out.snapshot->taken : std::string();
  if (!complete) {
    out.line = "The search did not end well: nothing was compared, and " +
               (out.snapshot ? "the snapshot" + since + " is kept."
                             : std::string("no snapshot was kept."));
  } else if (!out.snapshot) {
    out.line =
        "There is no snapshot of this profile yet: the change report lists nothing, and this "
        "run is kept for the next comparison.";
  } else if (!out.snapshot->Same(now)) {
    out.line =
        "The profile's server, base DN, scope, filter or attributes have changed since its "
        "snapshot" +
        since + ": nothing was compared, and this run is kept for the next comparison.";
  } else {
    out.compared = true;
  }
  if (!out.compared) return CreateChangeTable(history.Working(), changesTable, error);
  if (!history.Compare(profile, rowsTable, columns, changesTable, out.counts, error)) return false;
  out.line = "Since " + out.snapshot->taken + ": " + out.counts.Text() + ".";
  return true;
}

}  // namespace quorvel
