#include "store/data.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <exception>
#include <utility>

#include "store/catalogueupgrade.h"
#include "store/filelocations.h"
#include "store/schemacache.h"
#include "store/trust.h"
#include "store/workingstore.h"

std::string AppPath;
Tdata* data = nullptr;

namespace quorvel {
namespace {

// Numbers are written bare into the statements, so they must be plain
// decimal integers; anything else makes the operation fail.
bool IsNumber(const std::string& s) {
  size_t i = !s.empty() && s[0] == '-' ? 1 : 0;
  if (i >= s.size()) return false;
  for (; i < s.size(); ++i)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

bool IsPlainIdentifier(const std::string& s) {
  if (s.empty() || (s[0] >= '0' && s[0] <= '9')) return false;
  for (char c : s)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
      return false;
  return true;
}

}  // namespace

// An identifier between double quotes, inner double quotes doubled.
std::string QuoteIdentifier(const std::string& name) {
  std::string q = "\"";
  for (char c : name) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}

std::vector<std::string> SplitColumns(const std::string& columns) {
  std::vector<std::string> names;
  size_t start = 0;
  for (;;) {
    const size_t p = columns.find(';', start);
    names.push_back(columns.substr(start, p - start));
    if (p == std::string::npos) break;
    start = p + 1;
  }
  return names;
}

// The column definitions of the export table: every name quoted, all but
// the last typed VARCHAR(1024).
std::string ExportColumnDefinitions(const std::vector<std::string>& names) {
  std::string defs;
  for (size_t i = 0; i < names.size(); ++i) {
    defs += QuoteIdentifier(names[i]);
    if (i + 1 < names.size()) defs += " VARCHAR(1024),";
  }
  return defs;
}

}  // namespace quorvel

using quorvel::IsNumber;
using quorvel::QuoteIdentifier;

std::string ExecutableFolder() {
  std::string path(PATH_MAX, '\0');
  const ssize_t n = readlink("/proc/self/exe", path.data(), path.size() - 1);
  if (n <= 0) return "./";
  path.resize(static_cast<size_t>(n));
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "./" : path.substr(0, slash + 1);
}

Tdata::Tdata() : servers(&db), profiles(&db), sql(&db), exp(&temp), run(&temp), prop(&temp) {
  servers.TableName = "servers";
  profiles.TableName = "profiles";
  exp.TableName = "export";
  for (TASQLite3DB* c : {&db, &temp}) {
    c->MustExist = true;
    c->SetDefaultExt(".db");
  }
  // Other windows on the same program folder write the working store too,
  // each in short transactions (store/stagedtable.h); one that finds it busy
  // waits for theirs to end rather than failing.
  temp.BusyTimeout = kWorkingStoreBusyMs;
}

Tdata::~Tdata() {
  export_insert_.reset();  // finalized before the working file closes
}

template <class F>
bool Tdata::Guard(F&& f) {
  try {
    f();
    return true;
  } catch (const std::exception& e) {
    last_error_ = e.what();
  } catch (...) {
    last_error_ = "unknown error";
  }
  return false;
}

bool Tdata::RunSql(TASQLite3Query& q, const std::string& text,
                   const std::vector<std::string>& values) {
  return Guard([&] {
    q.SetSQL(text);
    q.SetParamValues(values);
    q.ExecSQL();
  });
}

bool Tdata::Init(const std::string& catalogue, const std::string& working,
                 const std::string& driver) {
  db.SetDriverDLL(driver);
  db.SetDatabase(catalogue);
  temp.SetDriverDLL(driver);
  temp.SetDatabase(working);
  return Guard([&] {
    if (!db.Connected()) db.Open();
    if (!db.Connected()) throw AsgError("Could not open " + catalogue);
    // An older catalogue gets the columns this version reads; one that
    // cannot be written is read as it is.
    quorvel::UpgradeCatalogue(db);
    readable_column_ = quorvel::HasColumn(db, "profiles", "readable");
    auth_column_ = quorvel::HasColumn(db, "servers", "auth");
    view_column_ = quorvel::HasColumn(db, "profiles", "view");
    if (!servers.Active()) servers.Open();
    if (!profiles.Active()) profiles.Open();
    prop.TableName = "property";
    // The catalogue keeps the engine's full durability; the working file gets
    // a journal that survives a killed process, and is replaced when damaged.
    if (!temp.Connected()) working_store_ = OpenWorkingStore(temp, db.FullPath());
  });
}

int Tdata::AddServer(const std::string& name, const std::string& server, const std::string& port,
                     const std::string& ssl, const std::string& uid, const std::string& pwd,
                     const std::string& basedn, const std::string& auth) {
  if (!IsNumber(port)) return 0;
  // A catalogue without the column (one that could not be upgraded) holds
  // only servers that bind with a DN and password.
  if (!auth_column_ && auth != "simple") return 0;
  std::vector<std::string> values{name, server, ssl, uid, pwd, basedn};
  if (auth_column_) values.push_back(auth);
  if (!RunSql(sql,
              std::string("INSERT INTO servers (name,server,port,ssl,uid,pwd,basedn") +
                  (auth_column_ ? ",auth" : "") + ") VALUES (?,?, " + port + ", ?, ?, ?, ?" +
                  (auth_column_ ? ", ?" : "") + ")",
              values))
    return 0;
  const int64_t id = db.LastInsertRowId();
  sql.Close();
  return static_cast<int>(id);
}

bool Tdata::UpdateServer(const std::string& id, const std::string& name, const std::string& server,
                         const std::string& port, const std::string& ssl, const std::string& uid,
                         const std::string& pwd, const std::string& basedn,
                         const std::string& auth) {
  if (!IsNumber(id) || !IsNumber(port)) return false;
  if (!auth_column_ && auth != "simple") return false;
  std::vector<std::string> values{name, server, ssl, uid, pwd, basedn};
  if (auth_column_) values.push_back(auth);
  return RunSql(sql,
                "UPDATE servers SET name = ?, server = ?, port = " + port +
                    ", ssl = ?, uid = ?, pwd = ?, basedn = ?" + (auth_column_ ? ", auth = ?" : "") +
                    " WHERE id = " + id,
                values);
}

bool Tdata::DeleteServer(const std::string& id) {
  if (!IsNumber(id)) return false;
  if (!RunSql(sql, "DELETE FROM servers WHERE id =" + id, {})) return false;
  // Its trusted certificates go with it: a later server that gets the same
  // id must not inherit them.
  const long long n = std::strtoll(id.c_str(), nullptr, 10);
  if (n > 0 && n <= INT_MAX) {
    quorvel::ForgetCertificates(*this, static_cast<int>(n));
    quorvel::ForgetSchema(*this, static_cast<int>(n));
  }
  return true;
}

int Tdata::AddProfile(const std::string& name, const std::string& serverid,
                      const std::string& basedn, const std::string& scope,
                      const std::string& filter, const std::string& att,
                      const std::string& readable) {
  if (!IsNumber(serverid) || !IsNumber(scope) || !IsNumber(readable)) return 0;
  const bool withReadable = readable_column_;
  if (!RunSql(sql,
              std::string("INSERT INTO profiles (name,serverid,basedn,scope,att,filter") +
                  (withReadable ? ",readable" : "") + ") VALUES (?," + serverid + ", ?, " + scope +
                  ", ?, ?" + (withReadable ? ", " + readable : std::string()) + ")",
              {name, basedn, att, filter}))
    return 0;
  const int64_t id = db.LastInsertRowId();
  sql.Close();
  return static_cast<int>(id);
}

bool Tdata::UpdateProfile(const std::string& id, const std::string& name,
                          const std::string& serverid, const std::string& basedn,
                          const std::string& scope, const std::string& filter,
                          const std::string& att, const std::string& readable) {
  if (!IsNumber(id) || !IsNumber(serverid) || !IsNumber(scope)) return false;
  if (!readable.empty() && !IsNumber(readable)) return false;
  const std::string setReadable =
      readable.empty() || !readable_column_ ? std::string() : ", readable = " + readable;
  return RunSql(sql,
                "UPDATE profiles SET name = ?, serverid = " + serverid + ", basedn = ?, scope = " +
                    scope + ", att = ?, filter = ?" + setReadable + " WHERE id = " + id,
                {name, basedn, att, filter});
}

bool Tdata::UpdateProfileView(const std::string& id, const std::string& view) {
  if (!IsNumber(id) || !view_column_) return false;
  return RunSql(sql, "UPDATE profiles SET view = ? WHERE id = " + id, {view});
}

bool Tdata::DeleteProfile(const std::string& id) {
  if (!IsNumber(id)) return false;
  return RunSql(sql, "DELETE FROM profiles WHERE id =" + id, {});
}

bool Tdata::DropExportTable() {
  CommitExportBatch();
  export_insert_.reset();
  exp.Close();
  // The values kept beside the rows are of the rows that go.
  RunSql(run, "DROP TABLE IF EXISTS export_values", {});
  return RunSql(run, "DROP TABLE export", {});
}

bool Tdata::DropTable(const std::string& name) {
  prop.Close();
  return RunSql(
      run, "DROP TABLE " + (quorvel::IsPlainIdentifier(name) ? name : QuoteIdentifier(name)), {});
}

bool Tdata::CreateExportTable(const std::string& columns) {
  CommitExportBatch();
  export_insert_.reset();
  export_columns_.clear();
  std::vector<std::string> tables;
  if (!Guard([&] { temp.GetTableNames(tables); })) return false;
  for (const std::string& t : tables)
    if (t == "export") DropExportTable();
  exp.Close();
  const std::vector<std::string> names = quorvel::SplitColumns(columns);
  if (!RunSql(run, "CREATE TABLE export (" + quorvel::ExportColumnDefinitions(names) + ")", {}))
    return false;
  export_columns_ = names;
  return true;
}

bool Tdata::CreatePropertyTable() {
  std::vector<std::string> tables;
  if (!Guard([&] { temp.GetTableNames(tables); })) return false;
  for (const std::string& t : tables)
    if (t == "property") DropTable("property");
  prop.Close();
  return RunSql(run, "CREATE TABLE property (Icon,Name,Value,Type,Size)", {});
}

bool Tdata::AddProperty(const std::string& icon, const std::string& name, const std::string& value,
                        const std::string& type, const std::string& size) {
  return RunSql(run, "INSERT INTO property (icon,name,value,type,size) VALUES (?,?,?,?,?)",
                {icon, name, value, type, size});
}

namespace {
constexpr size_t kExportBatch = 2000;
}

bool Tdata::BeginExportRows() {
  if (!in_export_rows_) {
    in_export_rows_ = true;
    one_by_one_ = false;
    batch_.clear();
  }
  return true;
}

bool Tdata::EndExportRows() {
  if (!in_export_rows_) return true;
  in_export_rows_ = false;
  const bool ok = CommitExportBatch();
  batch_.clear();
  batch_.shrink_to_fit();
  return ok;
}

bool Tdata::CommitExportBatch() {
  if (!batch_open_) return true;
  batch_open_ = false;
  if (Guard([&] { temp.Commit(); })) {
    batch_.clear();
    return true;
  }
  // The commit itself failed (no room to write the pages): end the
  // transaction and write the rows one by one.
  const std::string reason = last_error_;
  Guard([&] {
    if (temp.InTransaction()) temp.RollBack();
  });
  ReplayExportBatch();
  last_error_ = reason;
  return false;
}

void Tdata::ReplayExportBatch() {
  one_by_one_ = true;
  std::vector<std::vector<std::string>> rows;
  rows.swap(batch_);
  for (const auto& r : rows) InsertExportValues(r);
}

bool Tdata::InsertExportRow(std::vector<std::string> values) {
  if (export_columns_.empty() || values.size() > export_columns_.size()) {
    last_error_ = "no export table to insert into";
    return false;
  }
  if (in_export_rows_ && !one_by_one_ && !batch_open_) {
    if (!Guard([&] { temp.StartTransaction(); })) return false;
    batch_open_ = true;
  }
  if (!InsertExportValues(values)) {
    if (batch_open_ && !temp.InTransaction()) {
      // The engine rolled the whole batch back: write its rows again, each
      // in its own transaction, and keep going that way.
      const std::string reason = last_error_;
      batch_open_ = false;
      ReplayExportBatch();
      last_error_ = reason;
    }
    return false;
  }
  if (batch_open_) {
    batch_.push_back(std::move(values));
    if (batch_.size() >= kExportBatch) CommitExportBatch();
  }
  return true;
}

bool Tdata::InsertExportValues(const std::vector<std::string>& values) {
  return Guard([&] {
    if (!export_insert_) {
      std::string cols, marks;
      for (size_t i = 0; i < export_columns_.size(); ++i) {
        cols += (i ? "," : "") + QuoteIdentifier(export_columns_[i]);
        marks += i ? ",?" : "?";
      }
      export_insert_ = std::make_unique<quorvel::PreparedStatement>(
          temp, "INSERT INTO export (" + cols + ") VALUES (" + marks + ")");
    }
    for (size_t i = 0; i < export_columns_.size(); ++i)
      export_insert_->BindText(static_cast<int>(i + 1),
                               i < values.size() ? std::string_view(values[i]) : "");
    export_insert_->Run();
  });
}

bool InitDatabases() {
  AppPath = ExecutableFolder();
  Files = LocateFiles(AppPath);
  if (!data || !Files.error.empty()) return false;
  return data->Init(Files.catalogue, Files.working, Files.engine);
}

bool InitDatabases(Tdata& d, const std::string& catalogue, const std::string& working,
                   const std::string& driver) {
  AppPath = ExecutableFolder();
  return d.Init(catalogue, working, driver.empty() ? AppPath + "lib/quorvel.so" : driver);
}
