// The connection of the local SQL storage layer: loads the SQL engine library
// named at run time (dlopen/dlsym, nothing of the engine is linked), opens one
// database file through it and runs statements. This layer reports failures
// by raising AsgError (its own) or EDatabaseError (the engine's messages and a
// missing database file).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

class AsgError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class EDatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TASQLite3BaseQuery;

namespace quorvel {
struct EngineApi;  // the table of engine entry points (database.cpp)
}  // namespace quorvel

// Pragma settings run after every connect (zero or empty settings are skipped).
struct TASQLite3Pragma {
  int TempCacheSize = 0;
  int DefaultCacheSize = 0;
  std::string DefaultSynchronous;
  std::string DefaultTempStore;
  std::string TempStore;
  std::string Synchronous;
};

class TASQLite3DB {
 public:
  using TNotify = std::function<void(TASQLite3DB&)>;

  TASQLite3DB();
  ~TASQLite3DB();
  TASQLite3DB(const TASQLite3DB&) = delete;
  TASQLite3DB& operator=(const TASQLite3DB&) = delete;

  // "DEFAULT" (or empty), "DEFERRED", "IMMEDIATE" or "EXCLUSIVE".
  std::string TransactionType;
  // Optional companion, not owned; its settings run after every connect.
  TASQLite3Pragma* ASQLitePragma = nullptr;
  bool MustExist = false;
  // Milliseconds a statement waits for a lock held by another connection
  // before it fails with the engine's "database is locked".
  int BusyTimeout = 2000;
  TNotify BeforeConnect, AfterConnect, BeforeDisconnect, AfterDisconnect;

  // Surrounding blanks are trimmed when set; ":memory:" is an in-memory database.
  const std::string& Database() const { return database_; }
  void SetDatabase(const std::string& name);
  // ".sqb" when empty; stored only.
  std::string DefaultExt() const { return default_ext_.empty() ? ".sqb" : default_ext_; }
  void SetDefaultExt(const std::string& ext) { default_ext_ = ext; }
  // Folder prefixed to Database when not empty ("/" is appended on connect).
  const std::string& DefaultDir() const { return default_dir_; }
  void SetDefaultDir(const std::string& dir) { default_dir_ = dir; }
  // File name or path of the engine library; "quorvel.so" when empty.
  std::string DriverDLL() const { return driver_.empty() ? "quorvel.so" : driver_; }
  void SetDriverDLL(const std::string& path) { driver_ = path; }
  // The engine's version text, set at every connect.
  const std::string& Version() const { return version_; }

  bool Connected() const { return connected_; }
  // true connects (DBConnect), false closes the file and unloads the library.
  void SetConnected(bool value);
  void Open() { SetConnected(true); }
  void Close() { SetConnected(false); }

  // The names of all tables of the file, sorted by name (connects first).
  void GetTableNames(std::vector<std::string>& list);
  // Rows changed by the last statement, -1 when not connected.
  int RowsAffected() const;
  // The rowid of the last row inserted through this connection, 0 when none.
  int64_t LastInsertRowId() const;
  // true while an explicit transaction is open (the engine may end one by
  // itself after a failure such as a full disk).
  bool InTransaction() const;
  void StartTransaction(const std::string& type = std::string());
  void Commit();
  void RollBack();
  void ExecPragma();
  // Runs every statement of the text in turn; no rows are returned.
  void ExecDirect(const std::string& text);
  // Runs one statement and fills the dataset's fields and rows.
  void ExecuteQuery(const std::string& statement, TASQLite3BaseQuery& dataset);
  // Raises EDatabaseError with the engine's message for the open handle.
  [[noreturn]] void RaiseDatabaseError() const;

  // The full path the connection opens: DefaultDir + Database, a Database
  // holding "/" as it is, or the current working folder + "/" + Database.
  std::string FullPath();

  // For the layer's own statement helpers.
  const quorvel::EngineApi* Api() const { return api_.get(); }
  void* Handle() const { return handle_; }
  // Queries register so that a connection going away closes them.
  void Attach(TASQLite3BaseQuery* q);
  void Detach(TASQLite3BaseQuery* q);

 private:
  void DBConnect();
  void DBDisconnect();
  void LoadLibs();
  void FreeLibs();
  bool EnsureConnected();

  std::string database_, default_ext_, default_dir_, driver_, version_;
  bool connected_ = false;
  void* lib_ = nullptr;
  std::unique_ptr<quorvel::EngineApi> api_;
  void* handle_ = nullptr;
  std::vector<TASQLite3BaseQuery*> queries_;
};

namespace quorvel {

// For a program in which no connection (nor any statement of it) is ever used
// by two threads at once: the engine then takes no lock of its own around each
// of its calls on a connection. Takes effect only when called before the
// program's first connection is made; the engine's default otherwise stays.
void UseEachConnectionOnOneThreadAtATime();

// A prepared statement kept for reuse (the run's row inserts): values are
// bound as parameters, never pasted into the text. Raises like the connection.
class PreparedStatement {
 public:
  PreparedStatement(TASQLite3DB& db, const std::string& text);
  ~PreparedStatement();
  PreparedStatement(const PreparedStatement&) = delete;
  PreparedStatement& operator=(const PreparedStatement&) = delete;

  int ParameterCount() const;
  // 1-based parameter index, as the engine counts. The value is used in
  // place, not copied: it must stay alive and unchanged until Run returns.
  void BindText(int index, std::string_view value);
  void BindNull(int index);
  void BindInt64(int index, int64_t value);
  // Bytes bound as a blob, used in place like BindText.
  void BindBlob(int index, std::string_view value);
  // Steps to completion (no rows expected); raises EDatabaseError on failure.
  // The statement is reset afterwards and can be bound and run again.
  void Run();
  // Steps once: true with a row to read (ColumnInt64, ColumnBytes), false at
  // the end, when the statement is reset and its bindings cleared for the
  // next run. Raises EDatabaseError on failure (the statement is reset too).
  bool Step();
  // Ends a run before its last row (resets and clears the bindings).
  void Reset();
  int64_t ColumnInt64(int column) const;
  // The column's bytes, valid until the next Step or Reset.
  std::string_view ColumnBytes(int column) const;

 private:
  TASQLite3DB& db_;
  void* stmt_ = nullptr;
};

}  // namespace quorvel
