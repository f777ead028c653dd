#include "sqlstore/tableidentity.h"

#include "sqlstore/engine.h"

namespace quorvel {
namespace {

std::string ColumnText(const EngineApi& api, void* stmt, int c) {
  const unsigned char* p = api.column_text(stmt, c);
  const int n = api.column_bytes(stmt, c);
  return p && n > 0 ? std::string(reinterpret_cast<const char*>(p), n) : std::string();
}

}  // namespace

TTableIdentity::Statement::~Statement() {
  if (stmt) api->finalize(stmt);
}

TTableIdentity::TTableIdentity(TASQLite3DB& db) : db_(db), api_(db.Api()) {}

TTableIdentity::~TTableIdentity() = default;

void TTableIdentity::Prepare(Statement& s, const char* text) {
  s.api = api_;
  if (api_->prepare_v2(db_.Handle(), text, -1, &s.stmt, nullptr) != kEngineOk || !s.stmt)
    db_.RaiseDatabaseError();
}

bool TTableIdentity::Note(const std::string& table) {
  if (!cookie_.stmt) {
    Prepare(cookie_, "PRAGMA schema_version");
    Prepare(schema_,
            "SELECT type, name, rootpage FROM sqlite_master WHERE tbl_name = ?1 COLLATE NOCASE "
            "AND type IN ('table', 'index') ORDER BY type DESC, name");
    Prepare(columns_,
            "SELECT group_concat(name || ' ' || type || ' ' || pk, ',') FROM "
            "pragma_table_info(?1)");
    Prepare(owner_, "SELECT tbl_name FROM sqlite_master WHERE type = 'index' AND name = ?1");
  }
  table_ = table;
  version_ = Version();
  entry_ = Entry(table_, &follow_);
  return !entry_.empty();
}

void TTableIdentity::Renote() {
  version_ = Version();
  entry_ = Entry(table_, &follow_);
}

TTableIdentity::TChange TTableIdentity::Check() {
  // Any change of the file's schema bumps its version; only one that
  // dropped, renamed or re-created this table matters. What is looked at is
  // looked at again until no change came in between, so that the answer
  // holds for the version noted.
  TChange change = tcSame;
  for (int64_t version = Version(); version != version_;) {
    std::string now = table_;
    if (Entry(table_, nullptr) != entry_) {
      // The table that holds the index the read table had: the read table
      // itself under its new name, when everything else about it is the same.
      now = follow_.empty() ? std::string() : Owner(follow_);
      if (now.empty() || Entry(now, nullptr) != entry_) return tcReplaced;
    }
    const int64_t after = Version();
    if (after != version) {
      version = after;
      continue;
    }
    if (now != table_) change = tcRenamed;
    table_ = now;
    version_ = version;
  }
  return change;
}

bool TTableIdentity::Unchanged() {
  return Version() == version_;
}

std::string TTableIdentity::Entry(const std::string& table, std::string* firstIndex) {
  auto fail = [&](void* stmt) {
    std::string msg = api_->errmsg(db_.Handle());
    api_->reset(stmt);
    throw EDatabaseError(msg);
  };
  // Noting, the table's first index is the one to know it by; checking,
  // that same index is looked for. Other indexes may come and go (a sorted
  // view adds its own) without making the table another.
  if (firstIndex) firstIndex->clear();
  const std::string& follow = firstIndex ? *firstIndex : follow_;
  api_->reset(schema_.stmt);
  api_->bind_text(schema_.stmt, 1, table.data(), static_cast<int>(table.size()), EngineTransient());
  std::string entry;
  bool isTable = false;
  int rc;
  while ((rc = api_->step(schema_.stmt)) == kEngineRow) {
    const std::string type = ColumnText(*api_, schema_.stmt, 0);
    const std::string name = ColumnText(*api_, schema_.stmt, 1);
    if (type == "index" && firstIndex && firstIndex->empty()) *firstIndex = name;
    if (type == "table") {
      isTable = true;
    } else if (name != follow) {
      continue;
    }
    // The table's own name is left out: a table renamed is the same table.
    entry += type + ' ' + (type == "index" ? name : std::string()) + ' ' +
             ColumnText(*api_, schema_.stmt, 2) + '\n';
  }
  if (rc != kEngineDone) fail(schema_.stmt);
  api_->reset(schema_.stmt);
  if (!isTable) return std::string();
  api_->reset(columns_.stmt);
  api_->bind_text(columns_.stmt, 1, table.data(), static_cast<int>(table.size()),
                  EngineTransient());
  if (api_->step(columns_.stmt) != kEngineRow) fail(columns_.stmt);
  entry += ColumnText(*api_, columns_.stmt, 0);
  api_->reset(columns_.stmt);
  return entry;
}

std::string TTableIdentity::Owner(const std::string& index) {
  api_->reset(owner_.stmt);
  api_->bind_text(owner_.stmt, 1, index.data(), static_cast<int>(index.size()), EngineTransient());
  const int rc = api_->step(owner_.stmt);
  const std::string owner = rc == kEngineRow ? ColumnText(*api_, owner_.stmt, 0) : std::string();
  api_->reset(owner_.stmt);
  if (rc != kEngineRow && rc != kEngineDone) db_.RaiseDatabaseError();
  return owner;
}

int64_t TTableIdentity::Version() {
  api_->reset(cookie_.stmt);
  if (api_->step(cookie_.stmt) != kEngineRow) {
    std::string msg = api_->errmsg(db_.Handle());
    api_->reset(cookie_.stmt);
    throw EDatabaseError(msg);
  }
  const int64_t version = api_->column_int64(cookie_.stmt, 0);
  api_->reset(cookie_.stmt);
  return version;
}

}  // namespace quorvel
