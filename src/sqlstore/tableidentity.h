// Which table a reader in place is reading, whatever it is called: private
// to the storage layer (inplace.h, orderedrows.h).
//
// A run's table may be renamed while its rows are shown (published as
// `export`, or set aside again under its own name when another run publishes;
// see store/stagedtable.h), and another table may take its old name. What
// tells one table from another is therefore not the name but its root page,
// its columns and the name and root page of its first index: a table renamed
// keeps all of them, and a table made anew may get the very root page of the
// one it replaced but never the name of that index, which the program's own
// writers make unique to each table. Indexes added later (a sorted view's)
// leave the table the same.
//
//  - Note(table) notes what tells `table` from any other; false when there is
//    no such table in the main schema (a view, a temporary table, none).
//  - Check() looks again, but only when the file's schema has changed since
//    (one statement otherwise): tcSame, tcRenamed (the same table under the
//    name Table() now gives, found by the index it had) or tcReplaced (the
//    table is gone, or the name holds another).
//  - Renote() takes the table as it is now as the one read (after the reader
//    itself changed it, e.g. by adding an index).
//  - Unchanged() tells whether the schema is still the one Check answered
//    for. The engine prepares a statement again by its table's name when the
//    schema changes, so a read by name is only sure to have read this table
//    when Check said where it is and Unchanged() holds after the read: no
//    schema change can have come in between. Read again otherwise.
//
// Fails by raising EDatabaseError when the engine cannot be asked. Limit: a
// table made by a writer outside this program, with no index of its own,
// on the same root page and with the same columns, is not told from the old
// one.
//
//   TTableIdentity id(db);
//   if (!id.Note("export")) ...;
//   do {
//     if (id.Check() == TTableIdentity::tcRenamed) prepare again on id.Table();
//     read by id.Table();
//   } while (!id.Unchanged());
#pragma once

#include <cstdint>
#include <string>

#include "sqlstore/database.h"

namespace quorvel {

class TTableIdentity {
 public:
  enum TChange { tcSame, tcRenamed, tcReplaced };

  explicit TTableIdentity(TASQLite3DB& db);
  ~TTableIdentity();
  TTableIdentity(const TTableIdentity&) = delete;
  TTableIdentity& operator=(const TTableIdentity&) = delete;

  bool Note(const std::string& table);
  TChange Check();
  bool Unchanged();
  void Renote();
  const std::string& Table() const { return table_; }

 private:
  struct Statement {
    const EngineApi* api = nullptr;
    void* stmt = nullptr;
    ~Statement();
  };
  void Prepare(Statement& s, const char* text);
  // What tells `table` from any other (empty when there is no such table),
  // and the name of its first index.
  std::string Entry(const std::string& table, std::string* firstIndex);
  int64_t Version();
  std::string Owner(const std::string& index);

  TASQLite3DB& db_;
  const EngineApi* api_;
  Statement cookie_, schema_, columns_, owner_;
  std::string table_, entry_, follow_;
  int64_t version_ = 0;
};

}  // namespace quorvel
