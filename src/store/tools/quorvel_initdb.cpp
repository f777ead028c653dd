// Creates the database files beside the program when they are absent:
//   quorvel-initdb <engine library> <file> [<schema.sql>]
// An existing file is never touched. A new file is created with owner-only
// permissions (the catalogue holds bind passwords); with a schema its
// statements are run in it, otherwise it stays an empty database.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "sqlstore/database.h"

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: %s <engine library> <database file> [<schema.sql>]\n", argv[0]);
    return 2;
  }
  const std::string driver = argv[1], file = argv[2];
  std::string schema;
  if (argc == 4) {
    std::ifstream in(argv[3], std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "cannot read %s\n", argv[3]);
      return 1;
    }
    std::ostringstream text;
    text << in.rdbuf();
    schema = text.str();
  }
  const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  if (fd < 0) {
    if (errno == EEXIST) return 0;  // never overwrite
    std::perror(file.c_str());
    return 1;
  }
  fchmod(fd, 0600);
  close(fd);
  if (schema.empty()) return 0;
  try {
    TASQLite3DB db;
    db.SetDriverDLL(driver);
    db.SetDatabase(file);
    db.MustExist = true;
    db.Open();
    if (!db.Connected()) throw AsgError("cannot open " + file);
    db.ExecDirect(schema);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", file.c_str(), e.what());
    unlink(file.c_str());  // a half-made catalogue would never be redone
    return 1;
  }
  return 0;
}
