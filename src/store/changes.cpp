#include "store/changes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
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

// The snapshots in the history file. An entry, its values and the value
// count of each of its attributes are keyed by the entry's identity, so that
// a run joins on them without sorting; an attribute's values are a set.
constexpr const char* kHistorySchema =
    "CREATE TABLE IF NOT EXISTS history.snapshots (profile INTEGER PRIMARY KEY, server TEXT, "
    "basedn TEXT, scope INTEGER, filter TEXT, att TEXT, taken TEXT);"
    "CREATE TABLE IF NOT EXISTS history.snapshot_entries (profile INTEGER NOT NULL, ident BLOB "
    "NOT NULL, dn BLOB NOT NULL, PRIMARY KEY (profile, ident)) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS history.snapshot_values (profile INTEGER NOT NULL, ident BLOB "
    "NOT NULL, col INTEGER NOT NULL, value BLOB NOT NULL, PRIMARY KEY (profile, ident, col, "
    "value)) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS history.snapshot_counts (profile INTEGER NOT NULL, ident BLOB "
    "NOT NULL, col INTEGER NOT NULL, cnt INTEGER NOT NULL, PRIMARY KEY (profile, ident, col)) "
    "WITHOUT ROWID;";

constexpr const char* kStageTables[] = {"cnm", "cne", "cnv", "cnc", "cns"};

// The run in temporary tables of the snapshot's shape: each entry's identity
// (cnm, by the entry's rowid), entries (cne), values (cnv) and value counts
// (cnc). An entry without the identity value is known by a zero byte and its
// DN, which no identity value equals.
std::string StageStatements(const std::string& rowsTable, int identity) {
  const std::string v = QuoteIdentifier(EntryValuesTable(rowsTable));
  const std::string ident =
      identity == 0 ? "d.value" : "CAST(coalesce(i.value, X'00' || d.value) AS BLOB)";
  const std::string identJoin =
      identity == 0
          ? ""
          : " LEFT JOIN " + v + " i ON i.entry = d.entry AND i.col = " + std::to_string(identity) +
                " AND i.position = 0";
  return "CREATE TEMP TABLE cnm (entry INTEGER PRIMARY KEY, ident BLOB NOT NULL);"
         "INSERT INTO cnm SELECT d.entry, " +
         ident + " FROM " + v + " d" + identJoin +
         " WHERE d.col = 0;"
         "CREATE TEMP TABLE cne (ident BLOB PRIMARY KEY, dn BLOB NOT NULL) WITHOUT ROWID;"
         "INSERT OR IGNORE INTO cne SELECT m.ident, d.value FROM cnm m JOIN " +
         v +
         " d ON d.entry = m.entry AND d.col = 0 ORDER BY m.entry;"
         "CREATE TEMP TABLE cnv (ident BLOB NOT NULL, col INTEGER NOT NULL, value BLOB NOT NULL, "
         "PRIMARY KEY (ident, col, value)) WITHOUT ROWID;"
         "INSERT OR IGNORE INTO cnv SELECT m.ident, x.col, x.value FROM " +
         v +
         " x JOIN cnm m ON m.entry = x.entry WHERE x.col > 0;"
         "CREATE TEMP TABLE cnc (ident BLOB NOT NULL, col INTEGER NOT NULL, cnt INTEGER NOT NULL, "
         "PRIMARY KEY (ident, col)) WITHOUT ROWID;"
         "INSERT INTO cnc SELECT ident, col, count(*) FROM cnv GROUP BY ident, col;";
}

// The attributes with exactly one value in both runs (cns), for the profile ?1.
constexpr const char* kSingles =
    "CREATE TEMP TABLE cns (ident BLOB NOT NULL, col INTEGER NOT NULL, PRIMARY KEY (ident, col)) "
    "WITHOUT ROWID;"
    "INSERT INTO cns SELECT nc.ident, nc.col FROM cnc nc JOIN history.snapshot_counts oc ON "
    "oc.profile = ?1 AND oc.ident = nc.ident AND oc.col = nc.col WHERE nc.cnt = 1 AND oc.cnt = 1";

// One row per change: dn, kind (0 added, 1 renamed, 2 removed, 3 changed),
// column (0 for the DN or none), old, new; in the report's order. ?1 is the
// profile.
constexpr const char* kChangeRows =
    "SELECT dn, kind, col, old, new FROM ("
    // The same entry under another DN.
    "SELECT n.dn AS dn, 1 AS kind, 0 AS col, o.dn AS old, n.dn AS new FROM cne n "
    "JOIN history.snapshot_entries o ON o.profile = ?1 AND o.ident = n.ident WHERE o.dn <> n.dn "
    // Entries that were not there, with their values or without any.
    "UNION ALL SELECT n.dn, 0, v.col, NULL, v.value FROM cne n JOIN cnv v ON v.ident = n.ident "
    "WHERE NOT EXISTS (SELECT 1 FROM history.snapshot_entries o WHERE o.profile = ?1 AND "
    "o.ident = n.ident) "
    "UNION ALL SELECT n.dn, 0, 0, NULL, NULL FROM cne n WHERE NOT EXISTS (SELECT 1 FROM "
    "history.snapshot_entries o WHERE o.profile = ?1 AND o.ident = n.ident) AND NOT EXISTS "
    "(SELECT 1 FROM cnv v WHERE v.ident = n.ident) "
    // Entries gone, the same way.
    "UNION ALL SELECT o.dn, 2, v.col, v.value, NULL FROM history.snapshot_entries o JOIN "
    "history.snapshot_values v ON v.profile = ?1 AND v.ident = o.ident WHERE o.profile = ?1 AND "
    "NOT EXISTS (SELECT 1 FROM cne n WHERE n.ident = o.ident) "
    "UNION ALL SELECT o.dn, 2, 0, NULL, NULL FROM history.snapshot_entries o WHERE o.profile = "
    "?1 AND NOT EXISTS (SELECT 1 FROM cne n WHERE n.ident = o.ident) AND NOT EXISTS (SELECT 1 "
    "FROM history.snapshot_values v WHERE v.profile = ?1 AND v.ident = o.ident) "
    // One value in both runs, and another one.
    "UNION ALL SELECT n.dn, 3, s.col, ov.value, nv.value FROM cns s JOIN cne n ON n.ident = "
    "s.ident JOIN cnv nv ON nv.ident = s.ident AND nv.col = s.col JOIN history.snapshot_values "
    "ov ON ov.profile = ?1 AND ov.ident = s.ident AND ov.col = s.col WHERE nv.value <> ov.value "
    // Otherwise each value gone and each value new.
    "UNION ALL SELECT n.dn, 3, ov.col, ov.value, NULL FROM cne n JOIN history.snapshot_values "
    "ov ON ov.profile = ?1 AND ov.ident = n.ident WHERE NOT EXISTS (SELECT 1 FROM cnv x WHERE "
    "x.ident = n.ident AND x.col = ov.col AND x.value = ov.value) AND NOT EXISTS (SELECT 1 FROM "
    "cns s WHERE s.ident = n.ident AND s.col = ov.col) "
    "UNION ALL SELECT n.dn, 3, nv.col, NULL, nv.value FROM cne n JOIN cnv nv ON nv.ident = "
    "n.ident WHERE EXISTS (SELECT 1 FROM history.snapshot_entries o WHERE o.profile = ?1 AND "
    "o.ident = n.ident) AND NOT EXISTS (SELECT 1 FROM history.snapshot_values x WHERE "
    "x.profile = ?1 AND x.ident = n.ident AND x.col = nv.col AND x.value = nv.value) AND NOT "
    "EXISTS (SELECT 1 FROM cns s WHERE s.ident = n.ident AND s.col = nv.col)"
    ") ORDER BY dn, col, coalesce(old, new), kind";

long long Count(TASQLite3DB& db, const char* sql, int profile) {
  PreparedStatement q(db, sql);
  if (q.ParameterCount() > 0) q.BindInt64(1, profile);
  long long n = 0;
  if (q.Step()) {
    n = q.ColumnInt64(0);
    q.Reset();
  }
  return n;
}

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
    DropStage();
    if (attached_) working_.ExecDirect("DETACH DATABASE history");
  } catch (...) {
  }
}

void THistory::DropStage() {
  std::string drop;
  for (const char* t : kStageTables) drop += std::string("DROP TABLE IF EXISTS temp.") + t + ";";
  working_.ExecDirect(drop);
  staged_.clear();
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
    working_.ExecDirect("PRAGMA history.journal_mode=DELETE; PRAGMA history.synchronous=FULL");
    working_.ExecDirect(kHistorySchema);
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

void THistory::Stage(const std::string& rowsTable, int identity) {
  if (staged_ == rowsTable) return;
  DropStage();
  // The run's rows may be published (`export`) or set aside under their
  // own name by another program's publish meanwhile: they are found and
  // read in one read transaction, which no rename can come between.
  working_.StartTransaction("DEFERRED");
  try {
    working_.ExecDirect(StageStatements(RunRowsTable(working_, rowsTable), identity));
    working_.Commit();
  } catch (...) {
    RollBackQuietly(working_);
    throw;
  }
  staged_ = rowsTable;
}

void THistory::CountEntries(int profile, TChangeCounts& counts) {
  counts.added = Count(working_,
                       "SELECT count(*) FROM cne n WHERE NOT EXISTS (SELECT 1 FROM "
                       "history.snapshot_entries o WHERE o.profile = ?1 AND o.ident = n.ident)",
                       profile);
  counts.removed = Count(working_,
                         "SELECT count(*) FROM history.snapshot_entries o WHERE o.profile = ?1 "
                         "AND NOT EXISTS (SELECT 1 FROM cne n WHERE n.ident = o.ident)",
                         profile);
  counts.renamed = Count(working_,
                         "SELECT count(*) FROM cne n JOIN history.snapshot_entries o ON "
                         "o.profile = ?1 AND o.ident = n.ident WHERE o.dn <> n.dn",
                         profile);
}

void THistory::WriteChangeRows(int profile, const std::vector<TRequestedColumn>& columns,
                               const std::string& changesTable, TChangeCounts& counts) {
  static const char* const kKinds[] = {"added", "renamed", "removed", "changed"};
  PreparedStatement insert(
      working_, "INSERT INTO " + QuoteIdentifier(changesTable) + " VALUES (?, ?, ?, ?, ?)");
  PreparedStatement rows(working_, kChangeRows);
  rows.BindInt64(1, profile);
  std::string lastChanged, dn, attribute, oldText, newText;
  const std::string dnName = "dn";
  while (rows.Step()) {
    dn.assign(rows.ColumnBytes(0));
    const int kind = static_cast<int>(rows.ColumnInt64(1));
    const int64_t col = rows.ColumnInt64(2);
    if (kind == 1) {
      attribute = dnName;
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
    if (kind == 3 && dn != lastChanged) {
      ++counts.changed;
      lastChanged = dn;
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

bool THistory::Compare(int profile, const std::string& rowsTable,
                       const std::vector<TRequestedColumn>& columns,
                       const std::string& changesTable, TChangeCounts& counts, std::string& error) {
  counts = TChangeCounts();
  if (!CreateChangeTable(working_, changesTable, error)) return false;
  try {
    Stage(rowsTable, IdentityColumn(columns));
    working_.ExecDirect("DROP TABLE IF EXISTS temp.cns");
    {
      // kSingles is two statements: the table, then its rows for ?1.
      const std::string singles = kSingles;
      const std::size_t split = singles.find(';') + 1;
      working_.ExecDirect(singles.substr(0, split));
      PreparedStatement fill(working_, singles.substr(split));
      fill.BindInt64(1, profile);
      fill.Run();
    }
    CountEntries(profile, counts);
    working_.StartTransaction("IMMEDIATE");
    WriteChangeRows(profile, columns, changesTable, counts);
    working_.Commit();
  } catch (const std::exception& e) {
    RollBackQuietly(working_);
    error = std::string("The runs could not be compared in the working store: ") + e.what();
    return false;
  }
  return true;
}

bool THistory::Keep(int profile, const TSnapshotFacts& facts, const std::string& rowsTable,
                    const std::vector<TRequestedColumn>& columns, std::string& error) {
  const std::string p = std::to_string(profile);
  try {
    Stage(rowsTable, IdentityColumn(columns));
    working_.StartTransaction("IMMEDIATE");
    working_.ExecDirect(
        "DELETE FROM history.snapshot_values WHERE profile = " + p +
        "; DELETE FROM history.snapshot_entries WHERE profile = " + p +
        "; DELETE FROM history.snapshot_counts WHERE profile = " + p +
        "; INSERT INTO history.snapshot_entries SELECT " + p +
        ", ident, dn FROM cne; INSERT INTO history.snapshot_values SELECT " + p +
        ", ident, col, value FROM cnv; INSERT INTO history.snapshot_counts SELECT " + p +
        ", ident, col, cnt FROM cnc");
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
  } catch (const std::exception& e) {
    RollBackQuietly(working_);
    error = std::string("The snapshot could not be kept in the history file: ") + e.what();
    return false;
  }
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
