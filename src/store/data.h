// The data module: the catalogue connection with its tables and query, the
// working-store connection with its datasets, and every catalogue and
// working-table operation. The operations catch every error and report only
// true/false (or an id that is 0 on failure); the caller chooses the message.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sqlstore/database.h"
#include "sqlstore/dataset.h"
#include "store/workingstore.h"

// The folder of the running executable with its trailing "/"; set by
// InitDatabases and read by whoever builds paths beside the executable.
extern std::string AppPath;

// The folder of the running executable (from /proc/self/exe) with a trailing "/".
std::string ExecutableFolder();

// How long a working-store statement waits for another program's write
// transaction to end before it fails with "database is locked". Transactions
// are short (a batch of rows, a publish), so this is only reached when
// another program hangs while holding the store.
inline constexpr int kWorkingStoreBusyMs = 30000;

class Tdata {
 public:
  Tdata();
  ~Tdata();
  Tdata(const Tdata&) = delete;
  Tdata& operator=(const Tdata&) = delete;

  TASQLite3DB db;           // the catalogue file
  TASQLite3Table servers;   // db, table servers
  TASQLite3Table profiles;  // db, table profiles
  TASQLite3Query sql;       // db, every catalogue statement
  TASQLite3DB temp;         // the working file
  TASQLite3Table exp;       // temp, table export
  TASQLite3Query run;       // temp, working statements and the grid's rows
  TASQLite3Table prop;      // temp, table property

  // Connects both files (which must exist) through the engine library at
  // driver, opens servers and profiles. false when any step failed (steps
  // already done stay done); the reason is in LastError().
  bool Init(const std::string& catalogue, const std::string& working, const std::string& driver);

  // ssl "N", "Y" (SSL/TLS) or "T" (StartTLS); auth "simple" or "kerberos"
  // (the column servers.auth, added to an older catalogue by Init; where it
  // could not be added, only "simple" can be stored).
  int AddServer(const std::string& name, const std::string& server, const std::string& port,
                const std::string& ssl, const std::string& uid, const std::string& pwd,
                const std::string& basedn, const std::string& auth = "simple");
  bool UpdateServer(const std::string& id, const std::string& name, const std::string& server,
                    const std::string& port, const std::string& ssl, const std::string& uid,
                    const std::string& pwd, const std::string& basedn,
                    const std::string& auth = "simple");
  bool DeleteServer(const std::string& id);
  // readable: "1" shows directory values in their readable forms, "0" as
  // received (a new profile is on); UpdateProfile leaves it as stored when
  // it is empty. A catalogue without the column (one that could not be
  // upgraded) stores the other fields only.
  int AddProfile(const std::string& name, const std::string& serverid, const std::string& basedn,
                 const std::string& scope, const std::string& filter, const std::string& att,
                 const std::string& readable = "1");
  bool UpdateProfile(const std::string& id, const std::string& name, const std::string& serverid,
                     const std::string& basedn, const std::string& scope, const std::string& filter,
                     const std::string& att, const std::string& readable = std::string());
  bool DeleteProfile(const std::string& id);
  // Stores the profile's grid layout (store/gridview.h; empty for the
  // grid's own). False when the catalogue has no such column or the
  // statement failed.
  bool UpdateProfileView(const std::string& id, const std::string& view);
  // columns: "oid;" followed by the profile's attribute list.
  bool CreateExportTable(const std::string& columns);
  bool DropExportTable();
  bool CreatePropertyTable();
  bool DropTable(const std::string& name);
  bool AddProperty(const std::string& icon, const std::string& name, const std::string& value,
                   const std::string& type, const std::string& size);

  // The run's rows: InsertExportRow writes one row into the columns made by
  // the last CreateExportTable with a reused prepared statement (values bound,
  // missing ones empty). Between BeginExportRows and EndExportRows the rows
  // are committed in batches (the working file is scratch data); should the
  // engine abandon a batch (a full disk), its rows are written again one by
  // one, so a failing row loses only itself. Without Begin/End every row
  // commits on its own.
  bool BeginExportRows();
  bool InsertExportRow(std::vector<std::string> values);  // kept for the batch without a copy
  bool EndExportRows();

  // The text of the last error an operation caught (for logs and the
  // headless runner; the windowed program shows its own messages).
  const std::string& LastError() const { return last_error_; }
  // How Init found the working file: replaced when it was damaged.
  const TWorkingStoreOpen& WorkingStore() const { return working_store_; }

 private:
  template <class F>
  bool Guard(F&& f);
  bool RunSql(TASQLite3Query& q, const std::string& text, const std::vector<std::string>& values);

  std::vector<std::string> export_columns_;
  std::unique_ptr<quorvel::PreparedStatement> export_insert_;
  bool InsertExportValues(const std::vector<std::string>& values);
  bool CommitExportBatch();
  void ReplayExportBatch();

  bool in_export_rows_ = false;                  // between BeginExportRows and EndExportRows
  bool batch_open_ = false;                      // a batch transaction is open
  bool one_by_one_ = false;                      // a batch was lost: commit every row on its own
  std::vector<std::vector<std::string>> batch_;  // the open batch's rows
  std::string last_error_;
  TWorkingStoreOpen working_store_;
  bool readable_column_ = false;  // the catalogue's profiles have `readable`
  bool auth_column_ = false;      // the catalogue's servers have `auth`
  bool view_column_ = false;      // the catalogue's profiles have `view`
};

namespace quorvel {
// An identifier between double quotes, inner double quotes doubled.
std::string QuoteIdentifier(const std::string& name);
// The export table's columns: "oid;cn;mail" split at every ";" (pieces kept
// as they are), and their definitions: every name quoted, all but the last
// typed VARCHAR(1024).
std::vector<std::string> SplitColumns(const std::string& columns);
std::string ExportColumnDefinitions(const std::vector<std::string>& names);
}  // namespace quorvel

// The program's one data module (created by the windowed program at start-up).
extern Tdata* data;

// Sets AppPath and Files (store/filelocations.h: beside the executable or in
// the user's data folder) and connects the global data module to the
// catalogue and the working store there through AppPath + "lib/quorvel.so".
// false also when the user's data folder could not be prepared (Files.error).
bool InitDatabases();
// The same for any data module and any two files (the headless runner);
// an empty driver means AppPath + "lib/quorvel.so".
bool InitDatabases(Tdata& d, const std::string& catalogue, const std::string& working,
                   const std::string& driver = std::string());
