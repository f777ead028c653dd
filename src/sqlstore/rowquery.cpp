// The statements of the rows as shown: columns, filter and order of a run's
// table in one value (rowquery.h).
#include "sqlstore/rowquery.h"

#include <cstdint>
#include <cstdio>

#include "sqlstore/collation.h"
#include "sqlstore/database.h"
#include "sqlstore/engine.h"
#include "sqlstore/queryrows.h"

namespace quorvel {
namespace {

// A statement of the connection for the life of a block.
struct Scoped {
  const EngineApi* api = nullptr;
  void* stmt = nullptr;
  Scoped(TASQLite3DB& db, const std::string& text) : api(db.Api()) {
    if (!api || api->prepare_v2(db.Handle(), text.c_str(), -1, &stmt, nullptr) != kEngineOk ||
        !stmt)
      db.RaiseDatabaseError();
  }
  ~Scoped() {
    if (stmt) api->finalize(stmt);
  }
  Scoped(const Scoped&) = delete;
  Scoped& operator=(const Scoped&) = delete;
};

std::vector<std::string> TableColumns(TASQLite3DB& db, const std::string& table) {
  Scoped s(db, "SELECT * FROM " + QuoteName(table) + " LIMIT 0");
  std::vector<std::string> names;
  const int n = s.api->column_count(s.stmt);
  for (int c = 0; c < n; ++c) {
    const char* name = s.api->column_name(s.stmt, c);
    names.emplace_back(name ? name : "");
  }
  return names;
}

// The table's own spelling of `name`; false when it has no such column.
bool Canonical(const std::vector<std::string>& columns, std::string& name) {
  for (const std::string& c : columns)
    if (SameText(c, name)) {
      name = c;
      return true;
    }
  return false;
}

// An integer is an optional sign and 1 to 18 digits: every such text fits a
// 64-bit integer, so the cast below never saturates.
std::string IsIntegerText(const std::string& q) {
  const std::string digits = "(CASE WHEN substr(" + q + ", 1, 1) IN ('-', '+') THEN substr(" + q +
                             ", 2) ELSE " + q + " END)";
  return "(length(" + digits + ") BETWEEN 1 AND 18 AND " + digits + " NOT GLOB '*[^0-9]*')";
}

bool EveryValueInteger(TASQLite3DB& db, const std::string& table, const std::string& column) {
  const std::string q = QuoteName(column);
  Scoped s(db, "SELECT EXISTS (SELECT 1 FROM " + QuoteName(table) + " WHERE coalesce(" + q +
                   ", '') <> '' AND NOT " + IsIntegerText(q) + ")");
  if (s.api->step(s.stmt) != kEngineRow) db.RaiseDatabaseError();
  return s.api->column_int(s.stmt, 0) == 0;
}

// The terms of one sort key: its empty cells last, then its values.
std::string KeyTerms(const TSortKey& k) {
  const std::string q = QuoteName(k.Column);
  std::string value =
      k.Numeric ? "CAST(" + q + " AS INTEGER)" : q + " COLLATE " + std::string(kTextCollation);
  return "(coalesce(" + q + ", '') = ''), " + value + (k.Descending ? " DESC" : "");
}

}  // namespace

std::string QuoteName(const std::string& name) {
  std::string q = "\"";
  for (char c : name) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}

std::optional<std::string> TRowQuery::Resolve(TASQLite3DB& db) {
  const std::vector<std::string> table = TableColumns(db, Table);
  auto check = [&](std::string& name) -> std::optional<std::string> {
    if (Canonical(table, name)) return std::nullopt;
    return "unknown column '" + name + "'";
  };
  for (std::string& c : Columns)
    if (auto e = check(c)) return e;
  for (std::string& c : FilterColumns)
    if (auto e = check(c)) return e;
  for (TSortKey& k : Order) {
    if (auto e = check(k.Column)) return e;
    k.Numeric = EveryValueInteger(db, Table, k.Column);
  }
  if (!Filter.empty() && FilterColumns.empty()) FilterColumns = table;
  return std::nullopt;
}

std::string TRowQuery::Where() const {
  if (Filter.empty() || FilterColumns.empty()) return {};
  std::string w = " WHERE ";
  for (size_t i = 0; i < FilterColumns.size(); ++i) {
    if (i) w += " OR ";
    w += std::string(kContainsFunction) + "(" + QuoteName(FilterColumns[i]) + ", ?1)";
  }
  return w;
}

std::string TRowQuery::IndexTerms() const {
  std::string terms;
  for (const TSortKey& k : Order) terms += KeyTerms(k) + ", ";
  return terms + QuoteName(Key);
}

std::string TRowQuery::OrderBy() const {
  return " ORDER BY " + IndexTerms() + ", rowid";
}

std::string TRowQuery::Select() const {
  std::string cols;
  if (Columns.empty()) {
    cols = "*";
  } else {
    for (size_t i = 0; i < Columns.size(); ++i) cols += (i ? ", " : "") + QuoteName(Columns[i]);
  }
  return "SELECT " + cols + ", rowid FROM " + QuoteName(Table) + Where() + OrderBy();
}

std::string TRowQuery::Count() const {
  return "SELECT count(*) FROM " + QuoteName(Table) + Where();
}

std::optional<std::string> TRowQuery::Parameter() const {
  if (Where().empty()) return std::nullopt;
  return FoldText(Filter);
}

std::string TRowQuery::IndexName() const {
  if (Order.empty()) return {};
  // Named by a hash of what it indexes, so the same order finds its index.
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : Table + '\0' + IndexTerms()) h = (h ^ c) * 1099511628211ull;
  char name[40];
  std::snprintf(name, sizeof name, "quorvel_order_%016llx", static_cast<unsigned long long>(h));
  return name;
}

std::string TRowQuery::IndexStatementNamed(const std::string& name) const {
  return "CREATE INDEX IF NOT EXISTS " + QuoteName(name) + " ON " + QuoteName(Table) + " (" +
         IndexTerms() + ")";
}

std::string TRowQuery::IndexStatement() const {
  // The run's order has the key's own index (inplace.h).
  if (Order.empty()) return {};
  return IndexStatementNamed(IndexName());
}

std::string TRowQuery::IndexStatement(TASQLite3DB& db) const {
  if (Order.empty()) return {};
  // An index keeps its name when its table is renamed: the rows an earlier
  // `export` showed keep theirs when set aside under their run's name, and
  // a new `export` sorted the same way gets one of its own under another.
  const std::string base = IndexName();
  std::string name = base;
  for (int n = 2; n < 100; ++n) {
    Scoped s(db,
             "SELECT tbl_name FROM sqlite_master WHERE type = 'index' AND name = '" + name + "'");
    if (s.api->step(s.stmt) != kEngineRow) break;
    const unsigned char* owner = s.api->column_text(s.stmt, 0);
    if (owner && SameText(reinterpret_cast<const char*>(owner), Table)) break;
    name = base + "_" + std::to_string(n);
  }
  return IndexStatementNamed(name);
}

}  // namespace quorvel
