#include "sqlstore/database.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "sqlstore/collation.h"
#include "sqlstore/dataset.h"
#include "sqlstore/entryvalues.h"
#include "sqlstore/engine.h"

namespace quorvel {
namespace {

// Entry points, looked up in this order; loading fails at the first missing one.
template <class T>
bool Lookup(void* lib, const char* name, T& slot) {
  void* p = dlsym(lib, name);
  if (!p) return false;
  slot = reinterpret_cast<T>(p);
  return true;
}

bool LookupAll(void* lib, EngineApi& a) {
  return Lookup(lib, "sqlite3_open", a.open) && Lookup(lib, "sqlite3_close", a.close) &&
         Lookup(lib, "sqlite3_exec", a.exec) && Lookup(lib, "sqlite3_libversion", a.libversion) &&
         Lookup(lib, "sqlite3_errmsg", a.errmsg) && Lookup(lib, "sqlite3_get_table", a.get_table) &&
         Lookup(lib, "sqlite3_free_table", a.free_table) && Lookup(lib, "sqlite3_free", a.free) &&
         Lookup(lib, "sqlite3_complete", a.complete) &&
         Lookup(lib, "sqlite3_last_insert_rowid", a.last_insert_rowid) &&
         Lookup(lib, "sqlite3_interrupt", a.interrupt) &&
         Lookup(lib, "sqlite3_busy_timeout", a.busy_timeout) &&
         Lookup(lib, "sqlite3_busy_handler", a.busy_handler) &&
         Lookup(lib, "sqlite3_changes", a.changes) && Lookup(lib, "sqlite3_prepare", a.prepare) &&
         Lookup(lib, "sqlite3_finalize", a.finalize) && Lookup(lib, "sqlite3_reset", a.reset) &&
         Lookup(lib, "sqlite3_step", a.step) && Lookup(lib, "sqlite3_column_blob", a.column_blob) &&
         Lookup(lib, "sqlite3_column_bytes", a.column_bytes) &&
         Lookup(lib, "sqlite3_column_count", a.column_count) &&
         Lookup(lib, "sqlite3_column_decltype", a.column_decltype) &&
         Lookup(lib, "sqlite3_column_double", a.column_double) &&
         Lookup(lib, "sqlite3_column_int", a.column_int) &&
         Lookup(lib, "sqlite3_column_int64", a.column_int64) &&
         Lookup(lib, "sqlite3_column_name", a.column_name) &&
         Lookup(lib, "sqlite3_column_text", a.column_text) &&
         Lookup(lib, "sqlite3_column_type", a.column_type) &&
         Lookup(lib, "sqlite3_bind_blob", a.bind_blob) &&
         Lookup(lib, "sqlite3_prepare_v2", a.prepare_v2) &&
         Lookup(lib, "sqlite3_bind_text", a.bind_text) &&
         Lookup(lib, "sqlite3_bind_null", a.bind_null) &&
         Lookup(lib, "sqlite3_bind_parameter_count", a.bind_parameter_count) &&
         Lookup(lib, "sqlite3_clear_bindings", a.clear_bindings) &&
         Lookup(lib, "sqlite3_get_autocommit", a.get_autocommit) &&
         Lookup(lib, "sqlite3_bind_int64", a.bind_int64) &&
         Lookup(lib, "sqlite3_create_collation_v2", a.create_collation_v2) &&
         Lookup(lib, "sqlite3_create_function_v2", a.create_function_v2) &&
         Lookup(lib, "sqlite3_value_text", a.value_text) &&
         Lookup(lib, "sqlite3_value_bytes", a.value_bytes) &&
         Lookup(lib, "sqlite3_result_text", a.result_text) &&
         Lookup(lib, "sqlite3_result_null", a.result_null) &&
         Lookup(lib, "sqlite3_result_int", a.result_int) &&
         Lookup(lib, "sqlite3_value_blob", a.value_blob) &&
         Lookup(lib, "sqlite3_value_int64", a.value_int64) &&
         Lookup(lib, "sqlite3_result_blob", a.result_blob);
}

// The platform's debug output: stderr, only when QUORVEL_DEBUG is set.
void DebugOutput(const std::string& text) {
  if (std::getenv("QUORVEL_DEBUG")) std::fprintf(stderr, "%s\n", text.c_str());
}

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

bool IsBlank(const char* p) {
  if (!p) return true;
  for (; *p; ++p)
    if (static_cast<unsigned char>(*p) > ' ') return false;
  return true;
}

// Finalizes a statement when it goes out of scope unless released.
struct StatementGuard {
  const EngineApi* api;
  void* stmt;
  ~StatementGuard() {
    if (stmt) api->finalize(stmt);
  }
  int Finalize() {
    void* s = stmt;
    stmt = nullptr;
    return s ? api->finalize(s) : 0;
  }
};

// Set by UseEachConnectionOnOneThreadAtATime before the first connection.
std::atomic<bool> oneThreadEach{false};

// The engine keeps no count of the memory it uses: the count is nothing this
// program reads, and keeping it takes a process-wide lock around every one of
// the engine's allocations, six or more for each row stored. In a program
// that said so, connections have no lock of their own either. Both can only
// be set before the engine's first connection in the process, which the
// first load of the library precedes; a library already in use keeps its
// settings.
void ConfigureOnce(void* lib) {
  static std::once_flag once;
  std::call_once(once, [lib] {
    constexpr int kConfigMultiThread = 2, kConfigMemStatus = 9;
    auto config = reinterpret_cast<int (*)(int, ...)>(dlsym(lib, "sqlite3_config"));
    if (!config) return;
    if (oneThreadEach.load()) config(kConfigMultiThread);
    config(kConfigMemStatus, 0);
  });
}

}  // namespace

// Each call on a connection otherwise takes and releases the connection's
// lock: two dozen times for each row a report reads.
void UseEachConnectionOnOneThreadAtATime() {
  oneThreadEach.store(true);
}

}  // namespace quorvel

using quorvel::EngineApi;

TASQLite3DB::TASQLite3DB() = default;

TASQLite3DB::~TASQLite3DB() {
  // The datasets that use this connection close and forget it.
  for (TASQLite3BaseQuery* q : std::vector<TASQLite3BaseQuery*>(queries_))
    q->SetConnection(nullptr);
  try {
    SetConnected(false);
  } catch (...) {
  }
}

void TASQLite3DB::Attach(TASQLite3BaseQuery* q) {
  if (std::find(queries_.begin(), queries_.end(), q) == queries_.end()) queries_.push_back(q);
}

void TASQLite3DB::Detach(TASQLite3BaseQuery* q) {
  queries_.erase(std::remove(queries_.begin(), queries_.end(), q), queries_.end());
}

void TASQLite3DB::SetDatabase(const std::string& name) {
  database_ = quorvel::Trim(name);
}

void TASQLite3DB::SetConnected(bool value) {
  if (value) {
    if (!connected_) DBConnect();
  } else {
    DBDisconnect();
  }
}

std::string TASQLite3DB::FullPath() {
  if (!default_dir_.empty()) {
    if (default_dir_.back() != '/') default_dir_ += '/';
    return default_dir_ + database_;
  }
  if (database_.find('/') != std::string::npos) return database_;
  std::error_code ec;
  std::string cwd = std::filesystem::current_path(ec).string();
  return cwd + "/" + database_;
}

void TASQLite3DB::LoadLibs() {
  quorvel::DebugOutput("loading sqlite lib");
  quorvel::DebugOutput(DriverDLL());
  void* lib = dlopen(DriverDLL().c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!lib) throw AsgError("Could not load SQLite library");
  auto api = std::make_unique<EngineApi>();
  if (!quorvel::LookupAll(lib, *api)) {
    // A library without every entry point is released at once, so the next
    // connect fails the same way instead of calling a missing entry point.
    dlclose(lib);
    throw AsgError("Could not load SQLite library");
  }
  lib_ = lib;
  api_ = std::move(api);
  quorvel::ConfigureOnce(lib);
}

void TASQLite3DB::FreeLibs() {
  api_.reset();
  if (lib_) dlclose(lib_);
  lib_ = nullptr;
}

void TASQLite3DB::DBConnect() {
  if (database_.empty()) throw AsgError("Missing database property");
  const std::string path = FullPath();
  const bool memory = quorvel::Upper(database_) == ":MEMORY:";
  if (MustExist && !memory) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
      throw EDatabaseError("Database " + path + " does not exist");
  }
  if (!lib_) {
    try {
      LoadLibs();
    } catch (...) {
      connected_ = false;
      throw;
    }
  }
  connected_ = true;
  version_ = api_->libversion();
  handle_ = nullptr;
  if (BeforeConnect) BeforeConnect(*this);
  // The engine knows only the lower-case name; any other spelling would
  // become a file in the working folder.
  const int rc = api_->open(memory ? ":memory:" : path.c_str(), &handle_);
  if (AfterConnect) AfterConnect(*this);
  if (!handle_) {
    connected_ = false;
    return;
  }
  if (rc != quorvel::kEngineOk) {
    // A file the engine cannot open (no permission, a folder, ...) leaves the
    // component disconnected with the engine's reason instead of a handle
    // that fails later with a vaguer message.
    std::string msg = api_->errmsg(handle_);
    api_->close(handle_);
    handle_ = nullptr;
    connected_ = false;
    FreeLibs();
    throw EDatabaseError("Database " + path + ": " + msg);
  }
  // Wait a little for a lock held by another program instead of failing at
  // once (or spinning).
  api_->busy_timeout(handle_, BusyTimeout);
  // Every connection sorts and filters results the same way (collation.h).
  quorvel::RegisterTextFunctions(*api_, handle_);
  quorvel::RegisterEntryValueFunctions(*api_, handle_);
  if (ASQLitePragma) ExecPragma();
}

void TASQLite3DB::DBDisconnect() {
  if (lib_) {
    quorvel::DebugOutput("freeing sqlite dll");
    if (BeforeDisconnect) BeforeDisconnect(*this);
    // Datasets that read their rows in place keep statements on the handle:
    // they close first, or the engine would refuse to close it.
    for (TASQLite3BaseQuery* q : std::vector<TASQLite3BaseQuery*>(queries_))
      if (q->ReadsInPlace()) q->Close();
    if (handle_) api_->close(handle_);
    handle_ = nullptr;
    FreeLibs();
    if (AfterDisconnect) AfterDisconnect(*this);
  }
  connected_ = false;
}

bool TASQLite3DB::EnsureConnected() {
  if (!connected_) SetConnected(true);
  return connected_;
}

void TASQLite3DB::RaiseDatabaseError() const {
  if (api_ && handle_) throw EDatabaseError(api_->errmsg(handle_));
  throw EDatabaseError("not connected");
}

void TASQLite3DB::GetTableNames(std::vector<std::string>& list) {
  if (!EnsureConnected()) return;
  char** table = nullptr;
  int rows = 0, cols = 0;
  char* err = nullptr;
  const int rc =
      api_->get_table(handle_, "SELECT name FROM sqlite_master WHERE type=\"table\" ORDER BY name",
                      &table, &rows, &cols, &err);
  if (rc != quorvel::kEngineOk) {
    std::string msg = err ? err : api_->errmsg(handle_);
    if (err) api_->free(err);
    if (table) api_->free_table(table);
    throw EDatabaseError(msg);
  }
  list.clear();
  for (int r = 1; r <= rows; ++r) {
    const char* v = table[r * cols];
    list.emplace_back(v ? v : "");
  }
  api_->free_table(table);
}

int TASQLite3DB::RowsAffected() const {
  if (!connected_ || !handle_) return -1;
  return api_->changes(handle_);
}

int64_t TASQLite3DB::LastInsertRowId() const {
  if (!connected_ || !handle_) return 0;
  return api_->last_insert_rowid(handle_);
}

bool TASQLite3DB::InTransaction() const {
  return connected_ && handle_ && api_->get_autocommit(handle_) == 0;
}

void TASQLite3DB::StartTransaction(const std::string& type) {
  if (!EnsureConnected()) return;
  const std::string t = quorvel::Upper(type.empty() ? TransactionType : type);
  if (t == "DEFERRED")
    ExecDirect("begin deferred transaction");
  else if (t == "IMMEDIATE")
    ExecDirect("begin immediate transaction");
  else if (t == "EXCLUSIVE")
    ExecDirect("begin exclusive transaction");
  else
    ExecDirect("begin transaction");
}

void TASQLite3DB::Commit() {
  if (!EnsureConnected()) return;
  ExecDirect("commit transaction");
}

void TASQLite3DB::RollBack() {
  if (!EnsureConnected()) return;
  ExecDirect("rollback transaction");
}

void TASQLite3DB::ExecPragma() {
  if (!EnsureConnected() || !ASQLitePragma) return;
  const TASQLite3Pragma& p = *ASQLitePragma;
  if (p.TempCacheSize) ExecDirect("pragma cache_size=" + std::to_string(p.TempCacheSize));
  if (p.DefaultCacheSize)
    ExecDirect("pragma default_cache_size=" + std::to_string(p.DefaultCacheSize));
  if (!p.DefaultSynchronous.empty())
    ExecDirect("pragma default_synchronous=" + p.DefaultSynchronous);
  if (!p.DefaultTempStore.empty()) ExecDirect("pragma default_temp_store=" + p.DefaultTempStore);
  if (!p.TempStore.empty()) ExecDirect("pragma temp_store=" + p.TempStore);
  if (!p.Synchronous.empty()) ExecDirect("pragma synchronous=" + p.Synchronous);
}

void TASQLite3DB::ExecDirect(const std::string& text) {
  if (!connected_ || !handle_) throw AsgError("no database connection");
  const char* rest = text.c_str();
  while (!quorvel::IsBlank(rest)) {
    void* stmt = nullptr;
    const char* tail = nullptr;
    if (api_->prepare_v2(handle_, rest, -1, &stmt, &tail) != quorvel::kEngineOk)
      RaiseDatabaseError();
    quorvel::StatementGuard guard{api_.get(), stmt};
    if (!stmt) break;  // only a comment or blanks were left
    int rc;
    do {
      rc = api_->step(stmt);
    } while (rc == quorvel::kEngineRow);
    // Anything but "done" is a failure; a busy or locked database has already
    // waited BusyTimeout milliseconds and is not stepped again forever.
    std::string msg = rc == quorvel::kEngineDone ? "" : api_->errmsg(handle_);
    const int frc = guard.Finalize();
    if (frc != quorvel::kEngineOk || rc != quorvel::kEngineDone)
      throw EDatabaseError(msg.empty() ? api_->errmsg(handle_) : msg);
    if (tail == rest) break;
    rest = tail;
  }
}

namespace quorvel {

PreparedStatement::PreparedStatement(TASQLite3DB& db, const std::string& text) : db_(db) {
  if (!db.Connected() || !db.Handle()) throw AsgError("no database connection");
  if (db.Api()->prepare_v2(db.Handle(), text.c_str(), -1, &stmt_, nullptr) != kEngineOk || !stmt_)
    db.RaiseDatabaseError();
}

PreparedStatement::~PreparedStatement() {
  if (stmt_ && db_.Api()) db_.Api()->finalize(stmt_);
}

int PreparedStatement::ParameterCount() const {
  return db_.Api()->bind_parameter_count(stmt_);
}

void PreparedStatement::BindText(int index, std::string_view value) {
  // A null pointer would bind NULL: an empty value is bound as empty text.
  const char* text = value.data() ? value.data() : "";
  if (db_.Api()->bind_text(stmt_, index, text, static_cast<int>(value.size()), EngineStatic()) !=
      kEngineOk)
    db_.RaiseDatabaseError();
}

void PreparedStatement::BindNull(int index) {
  if (db_.Api()->bind_null(stmt_, index) != kEngineOk) db_.RaiseDatabaseError();
}

void PreparedStatement::Run() {
  const EngineApi* api = db_.Api();
  int rc;
  do {
    rc = api->step(stmt_);
  } while (rc == kEngineRow);
  std::string msg = rc == kEngineDone ? "" : api->errmsg(db_.Handle());
  api->reset(stmt_);
  api->clear_bindings(stmt_);
  if (rc != kEngineDone) throw EDatabaseError(msg);
}

void PreparedStatement::BindInt64(int index, int64_t value) {
  if (db_.Api()->bind_int64(stmt_, index, value) != kEngineOk) db_.RaiseDatabaseError();
}

void PreparedStatement::BindBlob(int index, std::string_view value) {
  // A null pointer would bind NULL: an empty value is bound as an empty blob.
  static const char none = 0;
  const char* bytes = value.data() ? value.data() : &none;
  if (db_.Api()->bind_blob(stmt_, index, bytes, static_cast<int>(value.size()), EngineStatic()) !=
      kEngineOk)
    db_.RaiseDatabaseError();
}

bool PreparedStatement::Step() {
  const EngineApi* api = db_.Api();
  const int rc = api->step(stmt_);
  if (rc == kEngineRow) return true;
  std::string msg = rc == kEngineDone ? "" : api->errmsg(db_.Handle());
  Reset();
  if (rc != kEngineDone) throw EDatabaseError(msg);
  return false;
}

void PreparedStatement::Reset() {
  db_.Api()->reset(stmt_);
  db_.Api()->clear_bindings(stmt_);
}

int64_t PreparedStatement::ColumnInt64(int column) const {
  return db_.Api()->column_int64(stmt_, column);
}

std::string_view PreparedStatement::ColumnBytes(int column) const {
  const void* p = db_.Api()->column_blob(stmt_, column);
  const int n = db_.Api()->column_bytes(stmt_, column);
  if (p == nullptr || n <= 0) return {};
  return std::string_view(static_cast<const char*>(p), static_cast<std::size_t>(n));
}

}  // namespace quorvel
