// A run's staged rows: a table of its own per run, written in short
// transactions, published as `export` in one.
#include "store/stagedtable.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <exception>
#include <sstream>
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

// When the process started, in clock ticks since boot (field 22 of
// /proc/PID/stat); 0 when unknown. With the process id it names one process
// for the machine's uptime: a process id used again has another start time.
unsigned long long StartTime(pid_t pid, bool* gone = nullptr) {
  if (gone) *gone = false;
  const std::string path = "/proc/" + std::to_string(pid) + "/stat";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (gone) *gone = errno == ENOENT;
    return 0;
  }
  char buf[1024];
  const ssize_t n = ::read(fd, buf, sizeof buf - 1);
  ::close(fd);
  if (n <= 0) return 0;
  const std::string stat(buf, static_cast<size_t>(n));
  // The command name (field 2) is in parentheses and may hold anything.
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(stat.substr(close + 1));
  std::string field;
  for (int i = 3; i <= 22 && (fields >> field); ++i)
    if (i == 22) return std::strtoull(field.c_str(), nullptr, 10);
  return 0;
}

std::string NewName() {
  static std::atomic<unsigned long long> counter{0};
  // Read for every name, not once: a forked child is another process.
  const pid_t pid = ::getpid();
  return kPrefix + std::to_string(pid) + "_" + std::to_string(StartTime(pid)) + "_" +
         std::to_string(++counter);
}

bool Digits(const std::string& s) {
  if (s.empty() || s.size() > 20) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// Whether `table` is a staged table whose process has ended. Names that are
// not of the form this file makes are never taken for abandoned, and a
// process whose state cannot be read counts as running.
bool Abandoned(const std::string& name) {
  // A run's values go with its rows.
  static const std::string values = EntryValuesTable("");
  const std::string table = name.size() > values.size() && name.compare(name.size() - values.size(),
                                                                        values.size(), values) == 0
                                ? name.substr(0, name.size() - values.size())
                                : name;
  if (table == kOldName) return true;
  if (table.rfind(kPrefix, 0) != 0) return false;
  const std::string rest = table.substr(std::char_traits<char>::length(kPrefix));
  const size_t a = rest.find('_');
  const size_t b = a == std::string::npos ? a : rest.find('_', a + 1);
  if (b == std::string::npos) return false;
  const std::string pidText = rest.substr(0, a), startText = rest.substr(a + 1, b - a - 1);
  if (!Digits(pidText) || !Digits(startText) || !Digits(rest.substr(b + 1))) return false;
  const unsigned long long pidValue = std::strtoull(pidText.c_str(), nullptr, 10);
  if (pidValue == 0 || pidValue > 0x7fffffff) return false;
  const pid_t pid = static_cast<pid_t>(pidValue);
  const unsigned long long start = std::strtoull(startText.c_str(), nullptr, 10);
  // Without /proc every process would look gone: only one that is not there
  // at all is then known to have ended.
  static const bool proc = ::access("/proc/self/stat", R_OK) == 0;
  if (!proc) return ::kill(pid, 0) != 0 && errno == ESRCH;
  bool gone = false;
  const unsigned long long now = StartTime(pid, &gone);
  if (gone) return true;
  if (now != 0 && start != 0) return now != start;
  return ::kill(pid, 0) != 0 && errno == ESRCH;
}

}  // namespace

int DropAbandonedStagedTables(TASQLite3DB& working) {
  int dropped = 0;
  try {
    std::vector<std::string> tables;
    working.GetTableNames(tables);
    for (const std::string& t : tables) {
      if (!Abandoned(t)) continue;
      working.ExecDirect("DROP TABLE IF EXISTS " + QuoteIdentifier(t));
      ++dropped;
    }
  } catch (...) {
    // Left for the next run to clean up.
  }
  return dropped;
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
  pending_.clear();
  pending_.shrink_to_fit();
  pendingValues_.clear();
  pendingValues_.shrink_to_fit();
}

bool TStagedExportTable::Create(const std::string& columns) {
  Discard();
  failed_ = false;
  error_.clear();
  written_ = 0;
  DropAbandonedStagedTables(working_);
  const std::vector<std::string> names = SplitColumns(columns);
  const std::string name = NewName();
  try {
    working_.ExecDirect("CREATE TABLE " + QuoteIdentifier(name) + " (" +
                        ExportColumnDefinitions(names) + ")");
    CreateEntryValuesTable(working_, EntryValuesTable(name));
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
  name_ = name;
  columns_ = names;
  return true;
}

bool TStagedExportTable::Append(std::vector<std::string> values) {
  return Append(std::move(values), TEntryValues());
}

bool TStagedExportTable::Append(std::vector<std::string> values, TEntryValues exact) {
  if (failed_) return false;
  if (name_.empty()) return Fail("no staged table to store the rows in");
  if (values.size() > columns_.size())
    return Fail("a row has " + std::to_string(values.size()) + " values for " +
                std::to_string(columns_.size()) + " columns");
  pending_.push_back(std::move(values));
  pendingValues_.push_back(std::move(exact));
  return pending_.size() < kBatchRows || Flush();
}

bool TStagedExportTable::Flush() {
  if (failed_) return false;
  if (pending_.empty()) return true;
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
    for (size_t r = 0; r < pending_.size(); ++r) {
      const std::vector<std::string>& row = pending_[r];
      for (size_t i = 0; i < columns_.size(); ++i)
        insert_->BindText(static_cast<int>(i + 1),
                          i < row.size() ? std::string_view(row[i]) : std::string_view());
      insert_->Run();
      // The values are the entry's whose row has just been given its rowid.
      if (!pendingValues_[r].Columns.empty() || !pendingValues_[r].DN.empty())
        values_->Add(working_.LastInsertRowId(), pendingValues_[r]);
    }
    working_.Commit();
  } catch (const std::exception& e) {
    const std::string reason = e.what();
    RollBackQuietly(working_);
    return Fail(reason);
  }
  written_ += static_cast<long long>(pending_.size());
  pending_.clear();
  pendingValues_.clear();
  return true;
}

bool TStagedExportTable::Clear() {
  if (failed_) return false;
  if (name_.empty()) return Fail("no staged table to store the rows in");
  pending_.clear();
  pendingValues_.clear();
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
    working_.ExecDirect("DROP TABLE IF EXISTS export; DROP TABLE IF EXISTS " + published);
    if (how == psMove) {
      working_.ExecDirect("ALTER TABLE " + table + " RENAME TO export");
      working_.ExecDirect("ALTER TABLE " + values + " RENAME TO " + published);
    } else {
      // The copy keeps every row's rowid: the values name their entry by it.
      std::string cols;
      for (const std::string& c : columns_) cols += "," + QuoteIdentifier(c);
      working_.ExecDirect("CREATE TABLE export (" + ExportColumnDefinitions(columns_) + ")");
      working_.ExecDirect("INSERT INTO export (rowid" + cols + ") SELECT rowid" + cols + " FROM " +
                          table);
      CreateEntryValuesTable(working_, EntryValuesTable("export"));
      working_.ExecDirect("INSERT INTO " + published + " SELECT * FROM " + values);
    }
    working_.Commit();
  } catch (const std::exception& e) {
    const std::string reason = e.what();
    RollBackQuietly(working_);
    return Fail(reason);
  }
  if (how == psMove) {
    insert_.reset();
    values_.reset();
    name_.clear();
  }
  return true;
}

void TStagedExportTable::Discard() {
  ClearPending();
  insert_.reset();
  values_.reset();
  if (name_.empty()) return;
  const std::string table = QuoteIdentifier(name_);
  const std::string values = QuoteIdentifier(EntryValuesTable(name_));
  name_.clear();
  try {
    if (working_.Connected())
      working_.ExecDirect("DROP TABLE IF EXISTS " + table + "; DROP TABLE IF EXISTS " + values);
  } catch (...) {
    // Dropped by a later run once this process has ended.
  }
}

}  // namespace quorvel
