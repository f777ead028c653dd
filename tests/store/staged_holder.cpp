// A second program on a working store, for the staged-table tests: run as
//   staged_holder ENGINE STORE hold   stages a row, prints its table's name,
//                                     then waits for a line: "drop" ends the
//                                     run as usual, "vanish" ends the process
//                                     without a word (as a kill would)
//   staged_holder ENGINE STORE clean  drops abandoned staged tables, then
//                                     prints every table's name, one a line
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "sqlstore/database.h"
#include "store/data.h"
#include "store/stagedtable.h"

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  TASQLite3DB db;
  db.SetDriverDLL(argv[1]);
  db.SetDatabase(argv[2]);
  db.BusyTimeout = kWorkingStoreBusyMs;
  try {
    db.Open();
    const std::string mode = argv[3];
    if (mode == "clean") {
      quorvel::DropAbandonedStagedTables(db);
      std::vector<std::string> tables;
      db.GetTableNames(tables);
      for (const std::string& t : tables) std::cout << t << "\n";
      return 0;
    }
    if (mode != "hold") return 2;
    quorvel::TStagedExportTable t(db);
    if (!(t.Create("oid;cn") && t.Append({"cn=held", "1"}) && t.Flush())) {
      std::cerr << t.Error() << "\n";
      return 3;
    }
    std::cout << t.Name() << std::endl;
    std::string line;
    std::getline(std::cin, line);
    if (line == "vanish") _exit(0);
    return 0;
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 4;
  }
}
