// A run's staged rows: a table of its own per run, written in short
// transactions, published as `export` in one.
#include "store/stagedtable.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <mutex>
#include <optional>
#include <random>
#include <utility>

#include "sqlstore/dataset.h"
#include "store/data.h"

namespace quorvel {
namespace {

// Ends a transaction that failed half way; a rollback that fails too leaves
// nothing more to do (the engine has rolled back already).
void RollBackQuietly(TASQLite3DB& db) {
  try {
    if (db.InTransaction()) db.RollBack();
  } catch (...) {
  }
}

constexpr const char* kPrefix = "export_staged_";
// The one fixed name earlier versions staged under.
constexpr const char* kOldName = "export_staged";
// Owner keys are lock offsets below 2^31, which every file-locking protocol
// (NFS's included) can express.
constexpr uint32_t kKeyMask = 0x7fffffff;
constexpr const char* kIndexPrefix = "rows_order_";

// The file beside the store whose byte `key` the owner of the staged tables
// of that key holds locked. An in-memory store has none: no other program
// can see its tables.
std::string LockFile(TASQLite3DB& working) {
  const std::string& db = working.Database();
  if (db.empty() || db == ":memory:" || db.rfind("file:", 0) == 0) return std::string();
  return working.FullPath() + "-staged";
}

// An open-file-description lock on byte `key` of the lock file: held by the
// description, not the process, so it is seen from any process of any
// process-ID namespace on this kernel, from another description of the same
// process, and (through the file system's lock manager) from other machines
// sharing the folder, exactly as the engine's own locks on the store are.
// It goes when its owner ends, however it ends.
bool LockByte(int fd, uint32_t key, short type, int cmd) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(key);
  fl.l_len = 1;
  return ::fcntl(fd, cmd, &fl) == 0;
}

// Whether the owner of `key` is known to have ended: the lock file exists
// and nobody holds its byte. A lock file that is missing or cannot be asked
// leaves the owner unknown, and its tables stay.
bool OwnerGone(const std::string& lockFile, uint32_t key) {
  if (lockFile.empty()) return false;
  const int fd = ::open(lockFile.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(key);
  fl.l_len = 1;
  const bool asked = ::fcntl(fd, F_OFD_GETLK, &fl) == 0;
  ::close(fd);
  return asked && fl.l_type == F_UNLCK;
}

uint32_t RandomKey() {
  static std::mutex mutex;
  static std::random_device device;
  std::lock_guard<std::mutex> hold(mutex);
  return static_cast<uint32_t>(device()) & kKeyMask;
}

std::string KeyText(uint32_t key) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(key));
  return text;
}

std::optional<uint32_t> OwnerKey(const std::string& table);

// An index on a table's first column (its DN) under a name no other table
// ever had: with it a reader of the table in place tells this table from any
// other later made under the same name, even on the same root page
// (sqlstore/tableidentity.h). It keeps its name when the table is renamed,
// and so does the owner key it carries ("rows_order_k<key>_...") for a
// staged table, by which a published table is known as its run's.
std::string OrderIndex(const std::string& table, const std::string& key,
                       std::string* indexName = nullptr) {
  const std::optional<uint32_t> owner = OwnerKey(table);
  const std::string name = std::string(kIndexPrefix) +
                           (owner ? "k" + KeyText(*owner) + "_" : std::string()) +
                           KeyText(RandomKey()) + KeyText(RandomKey());
  if (indexName) *indexName = name;
  return "CREATE INDEX " + QuoteIdentifier(name) + " ON " + QuoteIdentifier(table) + " (" +
         QuoteIdentifier(key) + ")";
}

// The owner key of a staged table's name: "export_staged_k" + 8 lower-case
// hexadecimal digits, alone or followed by "_" and a suffix (a companion
// table of the same run, held by the same lock).
std::optional<uint32_t> OwnerKey(const std::string& table) {
  const size_t at = std::char_traits<char>::length(kPrefix);
  if (table.size() < at + 9 || table.compare(0, at, kPrefix) != 0 || table[at] != 'k')
    return std::nullopt;
  if (table.size() > at + 9 && table[at + 9] != '_') return std::nullopt;
  uint32_t key = 0;
  for (size_t i = at + 1; i < at + 9; ++i) {
    const char c = table[i];
    const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (digit < 0) return std::nullopt;
    key = key * 16 + static_cast<uint32_t>(digit);
  }
  if (key > kKeyMask) return std::nullopt;
  return key;
}

// Whether `table` is a staged table whose owner is known to have ended.
// Every other name stays: those of no owner lock (tables of earlier versions
// named by a process id, which says nothing across machines and process-ID
// namespaces, and tables of a run that could not take its lock), and names
// this file does not make.
bool Abandoned(const std::string& table, const std::string& lockFile) {
  if (table == kOldName) return true;
  const std::optional<uint32_t> key = OwnerKey(table);
  return key && OwnerGone(lockFile, *key);
}

// A text as an SQL literal.
std::string QuoteText(const std::string& text) {
  std::string q = "'";
  for (char c : text) {
    if (c == '\'') q += '\'';
    q += c;
  }
  return q + "'";
}

// The first cell of a statement's first row; empty when it has none.
std::string FirstCell(TASQLite3DB& working, const std::string& sql) {
  TASQLite3Query q(&working);
  q.RawSQL = true;
  q.SetSQL(sql);
  q.Open();
  std::string cell = q.RecordCount() > 0 ? std::string(q.CellText(0, 0)) : std::string();
  q.Close();
  return cell;
}

bool TableExists(TASQLite3DB& working, const std::string& name) {
  return !FirstCell(working, "SELECT name FROM sqlite_master WHERE type = 'table' AND name = " +
                                 QuoteText(name))
              .empty();
}

// Makes room for a new `export` and `export_values`, in the caller's
// transaction. An `export` that a live run still keeps (its order index
// carries the run's key, and the key is held) goes back under that run's
// staged name, with its values beside it, where the run, and the grid
// reading it in place, find it; any other is dropped.
void SetAsideExport(TASQLite3DB& working) {
  const std::string values = EntryValuesTable("export");
  const std::string index =
      FirstCell(working,
                "SELECT name FROM sqlite_master WHERE type = 'index' AND tbl_name = 'export' AND "
                "substr(name, 1, 12) = 'rows_order_k' ORDER BY name LIMIT 1");
  const size_t at = std::char_traits<char>::length(kIndexPrefix);
  const std::optional<uint32_t> key =
      index.size() > at + 9 ? OwnerKey(kPrefix + index.substr(at, 9)) : std::nullopt;
  if (key && !OwnerGone(LockFile(working), *key)) {
    std::string name = kPrefix + std::string("k") + KeyText(*key);
    // The key's staged name taken (by a later owner of the same key, once
    // this one has ended): a name of the same key beside it.
    if (TableExists(working, name) || TableExists(working, EntryValuesTable(name)))
      name += "_shown";
    working.ExecDirect("ALTER TABLE export RENAME TO " + QuoteIdentifier(name));
    if (TableExists(working, values))
      working.ExecDirect("ALTER TABLE " + QuoteIdentifier(values) + " RENAME TO " +
                         QuoteIdentifier(EntryValuesTable(name)));
    return;
  }
  working.ExecDirect("DROP TABLE IF EXISTS export; DROP TABLE IF EXISTS " +
                     QuoteIdentifier(values));
}

std::vector<std::string> AbandonedTables(TASQLite3DB& working, const std::string& lockFile) {
  std::vector<std::string> tables, abandoned;
  working.GetTableNames(tables);
  for (const std::string& t : tables)
    if (Abandoned(t, lockFile)) abandoned.push_back(t);
  return abandoned;
}

}  // namespace

int DropAbandonedStagedTables(TASQLite3DB& working) {
  try {
    const std::string lockFile = LockFile(working);
    if (AbandonedTables(working, lockFile).empty()) return 0;
    // Looked at again under the write lock, so that a table is never dropped
    // after a new owner of its key has made it anew.
    working.StartTransaction("IMMEDIATE");
    const std::vector<std::string> abandoned = AbandonedTables(working, lockFile);
    for (const std::string& t : abandoned)
      working.ExecDirect("DROP TABLE IF EXISTS " + QuoteIdentifier(t));
    working.Commit();
    return static_cast<int>(abandoned.size());
  } catch (...) {
    // Left for the next run to clean up.
    RollBackQuietly(working);
    return 0;
  }
}

std::string RunRowsTable(TASQLite3DB& working, const std::string& name) {
  try {
    if (TableExists(working, name)) return name;
    // A staged table published by psKeep is `export` until it is set aside:
    // known by the owner key its order index carries.
    const std::optional<uint32_t> key = OwnerKey(name);
    if (key && !FirstCell(working,
                          "SELECT name FROM sqlite_master WHERE type = 'index' AND "
                          "tbl_name = 'export' AND substr(name, 1, 20) = " +
                              QuoteText(kIndexPrefix + std::string("k") + KeyText(*key)))
                    .empty())
      return "export";
  } catch (...) {
    // Left to the reader, which says what is wrong with the name.
  }
  return name;
}

TStagedExportTable::TStagedExportTable(TASQLite3DB& working) : working_(working) {}

TStagedExportTable::~TStagedExportTable() {
  Discard();
}

bool TStagedExportTable::Fail(const std::string& reason) {
  if (!failed_)
    error_ =
        "The rows could not be stored in the working store " + working_.FullPath() + ": " + reason;
  failed_ = true;
  ClearPending();
  return false;
}

void TStagedExportTable::ClearPending() {
  pendingRows_ = 0;
  pending_.clear();
  pending_.shrink_to_fit();
  pendingValues_.clear();
  pendingValues_.shrink_to_fit();
  pendingBytes_ = 0;
}

std::string TStagedExportTable::TakeOwnerLock() {
  ReleaseOwnerLock();
  const std::string lockFile = LockFile(working_);
  const int fd =
      lockFile.empty() ? -1 : ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd >= 0) {
    // A key whose byte another run holds is that run's: try another.
    for (int attempt = 0; attempt < 32; ++attempt) {
      const uint32_t key = RandomKey();
      if (LockByte(fd, key, F_WRLCK, F_OFD_SETLK)) {
        lockFd_ = fd;
        return kPrefix + std::string("k") + KeyText(key);
      }
    }
    ::close(fd);
  }
  // No lock to be had (an in-memory store, a folder without locking): a name
  // that no other run ever takes for abandoned.
  return kPrefix + std::string("u") + KeyText(RandomKey()) + "_" + std::to_string(::getpid());
}

void TStagedExportTable::ReleaseOwnerLock() {
  if (lockFd_ >= 0) ::close(lockFd_);
  lockFd_ = -1;
}

bool TStagedExportTable::Create(const std::string& columns) {
  Discard();
  failed_ = false;
  error_.clear();
  written_ = 0;
  DropAbandonedStagedTables(working_);
  const std::vector<std::string> names = SplitColumns(columns);
  for (int attempt = 0;; ++attempt) {
    const std::string name = TakeOwnerLock();
    try {
      // The DN order is kept up as the rows go in, while the run mostly
      // waits for its server, rather than sorted once the search has ended.
      working_.StartTransaction("IMMEDIATE");
      working_.ExecDirect("CREATE TABLE " + QuoteIdentifier(name) + " (" +
                          ExportColumnDefinitions(names) + "); " +
                          OrderIndex(name, names[0], &index_));
      // The values beside the rows: a companion table, covered by the same key.
      CreateEntryValuesTable(working_, EntryValuesTable(name));
      working_.Commit();
      name_ = name;
      columns_ = names;
      return true;
    } catch (const std::exception& e) {
      RollBackQuietly(working_);
      // A key of an ended run whose table is not cleaned up yet: another key.
      std::vector<std::string> tables;
      try {
        working_.GetTableNames(tables);
      } catch (...) {
      }
      const bool taken = std::find(tables.begin(), tables.end(), name) != tables.end();
      if (!taken || attempt >= 8) {
        ReleaseOwnerLock();
        return Fail(e.what());
      }
    }
  }
}

bool TStagedExportTable::Append(std::vector<std::string> values) {
  return AppendPacked(values, std::string_view());
}

bool TStagedExportTable::Append(std::vector<std::string> values, TEntryValues exact) {
  std::string packed;
  if (!exact.Columns.empty() || !exact.DN.empty()) PackEntryValues(exact, packed, &columns_);
  return AppendPacked(values, packed);
}

bool TStagedExportTable::AppendPacked(const std::vector<std::string>& values,
                                      std::string_view packed) {
  if (failed_) return false;
  if (kept_) return Fail("the rows are published already");
  if (name_.empty()) return Fail("no staged table to store the rows in");
  if (values.size() > columns_.size())
    return Fail("a row has " + std::to_string(values.size()) + " values for " +
                std::to_string(columns_.size()) + " columns");
  if (pendingRows_ == pending_.size()) {
    pending_.emplace_back();
    pendingValues_.emplace_back();
  }
  std::vector<std::string>& row = pending_[pendingRows_];
  row.resize(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    row[i].assign(values[i]);
    pendingBytes_ += values[i].size();
  }
  pendingValues_[pendingRows_].assign(packed);
  pendingBytes_ += packed.size();
  ++pendingRows_;
  return (pendingRows_ < batchRows_ && pendingBytes_ < kBatchBytes) || Flush();
}

// A written batch leaves its slots for the next one; only a slot that held
// a large value (a photo) gives its room back.
void TStagedExportTable::EmptyBatch() {
  constexpr std::size_t kKeptRoom = 64 << 10;
  auto trim = [](std::string& s) {
    if (s.capacity() > kKeptRoom) std::string().swap(s);
  };
  for (std::size_t r = 0; r < pendingRows_; ++r) {
    for (std::string& cell : pending_[r]) trim(cell);
    trim(pendingValues_[r]);
  }
  pendingRows_ = 0;
  pendingBytes_ = 0;
}

bool TStagedExportTable::Flush() {
  if (failed_) return false;
  if (pendingRows_ == 0) return true;
  if (name_.empty()) return Fail("no staged table to store the rows in");
  try {
    if (!insert_) {
      std::string cols, marks;
      for (size_t i = 0; i < columns_.size(); ++i) {
        cols += (i ? "," : "") + QuoteIdentifier(columns_[i]);
        marks += i ? ",?" : "?";
      }
      insert_ = std::make_unique<PreparedStatement>(
          working_,
          "INSERT INTO " + QuoteIdentifier(name_) + " (" + cols + ") VALUES (" + marks + ")");
      values_ = std::make_unique<TEntryValueWriter>(working_, EntryValuesTable(name_));
    }
    // IMMEDIATE takes the write lock at once, waiting for another program's
    // transaction to end, instead of failing half way through the batch.
    working_.StartTransaction("IMMEDIATE");
    for (size_t r = 0; r < pendingRows_; ++r) {
      const std::vector<std::string>& row = pending_[r];
      for (size_t i = 0; i < columns_.size(); ++i)
        insert_->BindText(static_cast<int>(i + 1),
                          i < row.size() ? std::string_view(row[i]) : std::string_view());
      insert_->Run();
      // The values are the entry's whose row has just been given its rowid.
      if (!pendingValues_[r].empty())
        values_->AddPacked(working_.LastInsertRowId(), pendingValues_[r]);
    }
    working_.Commit();
  } catch (const std::exception& e) {
    const std::string reason = e.what();
    RollBackQuietly(working_);
    return Fail(reason);
  }
  written_ += static_cast<long long>(pendingRows_);
  EmptyBatch();
  return true;
}

bool TStagedExportTable::Clear() {
  if (failed_) return false;
  if (kept_) return Fail("the rows are published already");
  if (name_.empty()) return Fail("no staged table to store the rows in");
  EmptyBatch();
  try {
    working_.ExecDirect("DELETE FROM " + QuoteIdentifier(name_) + "; DELETE FROM " +
                        QuoteIdentifier(EntryValuesTable(name_)));
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
  written_ = 0;
  return true;
}

bool TStagedExportTable::Publish(TPublish how) {
  if (kept_) return Fail("the rows are published already");
  if (!Flush()) return false;
  if (name_.empty()) return Fail("no staged table to publish");
  const std::string table = QuoteIdentifier(name_);
  try {
    working_.StartTransaction("IMMEDIATE");
    // Only this run writes its table; anything else in it means the rows
    // are not this run's, and they are not published.
    TASQLite3Query count(&working_);
    count.RawSQL = true;
    count.SetSQL("SELECT count(*) FROM " + table);
    count.Open();
    const std::string held = count.RecordCount() > 0 ? std::string(count.CellText(0, 0)) : "";
    count.Close();
    if (held != std::to_string(written_))
      throw EDatabaseError("the staged table " + name_ + " holds " + held + " rows where " +
                           std::to_string(written_) + " were stored");
    const std::string values = QuoteIdentifier(EntryValuesTable(name_));
    const std::string published = QuoteIdentifier(EntryValuesTable("export"));
    SetAsideExport(working_);
    if (how != psCopy) {
      working_.ExecDirect("ALTER TABLE " + table + " RENAME TO export");
      working_.ExecDirect("ALTER TABLE " + values + " RENAME TO " + published);
    } else {
      // The copy keeps every row's rowid: the values name their entry by it.
      std::string cols;
      for (const std::string& c : columns_) cols += "," + QuoteIdentifier(c);
      working_.ExecDirect("CREATE TABLE export (" + ExportColumnDefinitions(columns_) + ")");
      working_.ExecDirect("INSERT INTO export (rowid" + cols + ") SELECT rowid" + cols + " FROM " +
                          table);
      working_.ExecDirect(OrderIndex("export", columns_[0]));
      CreateEntryValuesTable(working_, EntryValuesTable("export"));
      working_.ExecDirect("INSERT INTO " + published + " SELECT * FROM " + values);
    }
    working_.Commit();
  } catch (const std::exception& e) {
    const std::string reason = e.what();
    RollBackQuietly(working_);
    return Fail(reason);
  }
  if (how != psCopy) {
    insert_.reset();
    values_.reset();
  }
  if (how == psMove) {
    name_.clear();
    ReleaseOwnerLock();
  }
  kept_ = how == psKeep;
  return true;
}

std::string TStagedExportTable::Location() const {
  if (!kept_) return name_;
  // Wherever the rows are now: `export`, or set aside under the run's own
  // name by a later publish. Their index goes wherever they go.
  try {
    const std::string now =
        FirstCell(working_, "SELECT tbl_name FROM sqlite_master WHERE type = 'index' AND name = " +
                                QuoteText(index_));
    return now.empty() ? name_ : now;
  } catch (...) {
    return name_;
  }
}

void TStagedExportTable::Discard() {
  ClearPending();
  insert_.reset();
  values_.reset();
  if (name_.empty()) return ReleaseOwnerLock();
  const std::string own = name_;
  const bool kept = kept_;
  try {
    if (working_.Connected()) {
      // Looked for and dropped in one transaction, so that no publish in
      // between moves the rows after they were found. Kept rows that are
      // still `export` stay: they are the last run's rows.
      working_.StartTransaction("IMMEDIATE");
      const std::string table = kept ? Location() : own;
      if (table != "export")
        working_.ExecDirect("DROP TABLE IF EXISTS " + QuoteIdentifier(table) +
                            "; DROP TABLE IF EXISTS " + QuoteIdentifier(EntryValuesTable(table)));
      working_.Commit();
    }
  } catch (...) {
    // Dropped by a later run once the lock below is released.
    RollBackQuietly(working_);
  }
  name_.clear();
  index_.clear();
  kept_ = false;
  ReleaseOwnerLock();
}

}  // namespace quorvel
