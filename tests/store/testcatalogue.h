// A new catalogue for the store tests, made from the schema the build uses.
#pragma once

#include <string>

#include "common/slapd_env.h"
#include "sqlstore/testutil.h"
#include "store/data.h"
#include "store/nodedata.h"

namespace quorvel::test {

// Opens `db` on the (empty) file `path` with the test engine and creates the
// catalogue's tables in it; the caller closes it or keeps using it.
inline void OpenNewCatalogue(TASQLite3DB& db, const std::string& path) {
  db.SetDriverDLL(kEngine);
  db.SetDatabase(path);
  db.Open();
  db.ExecDirect(ReadFile(std::string(QUORVEL_SOURCE_DIR) + "/src/store/catalogue.sql"));
}

// Makes the file `path` a new catalogue, then runs `extra` (SQL) in it.
inline void MakeCatalogue(const std::string& path, const std::string& extra = "") {
  TASQLite3DB db;
  OpenNewCatalogue(db, path);
  if (!extra.empty()) db.ExecDirect(extra);
  db.Close();
}

// The test directory's server as a catalogue holds it: clear LDAP on
// 127.0.0.1, signed in as its administrator (no size limit).
inline TServerNodeData AdminServer() {
  TServerNodeData s;
  s.server = "127.0.0.1";
  s.port = Slapd().port;
  s.ssl = "N";
  s.uid = Slapd().adminDn;
  s.pwd = Slapd().adminPw;
  return s;
}

}  // namespace quorvel::test
