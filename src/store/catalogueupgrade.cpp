#include "store/catalogueupgrade.h"

#include <exception>

#include "sqlstore/dataset.h"

namespace quorvel {
namespace {

struct TUpgradeStep {
  const char* table;
  const char* column;
  const char* statements;  // run in one transaction
};

// The default of 1 is for rows stored later by other means; the UPDATE gives
// the rows already there the old behaviour.
constexpr TUpgradeStep kSteps[] = {
    {"profiles", "readable",
     "ALTER TABLE profiles ADD COLUMN readable INTEGER DEFAULT 1;"
     "UPDATE profiles SET readable = 0;"},
    {"servers", "auth", "ALTER TABLE servers ADD COLUMN auth VARCHAR(16) DEFAULT 'simple';"},
    {"profiles", "view", "ALTER TABLE profiles ADD COLUMN view TEXT DEFAULT '';"},
};

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

}  // namespace

bool HasColumn(TASQLite3DB& db, const std::string& table, const std::string& column) {
  TASQLite3Query q(&db);
  q.RawSQL = true;
  q.SetSQL("PRAGMA table_info(" + table + ")");
  q.Open();
  for (q.First(); !q.Eof(); q.Next())
    if (SameName(q.FieldByName("name").AsString(), column)) return true;
  return false;
}

bool UpgradeCatalogue(TASQLite3DB& db, std::string* error) {
  for (const TUpgradeStep& step : kSteps) {
    try {
      if (HasColumn(db, step.table, step.column)) continue;
      db.StartTransaction();
      try {
        db.ExecDirect(step.statements);
        db.Commit();
      } catch (...) {
        if (db.InTransaction()) db.RollBack();
        throw;
      }
    } catch (const std::exception& e) {
      if (error) *error = e.what();
      return false;
    }
  }
  return true;
}

}  // namespace quorvel
