// A new catalogue for the store tests, made from the schema the build uses.
#pragma once

#include <string>

#include "sqlstore/testutil.h"
#include "store/data.h"

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

}  // namespace quorvel::test
