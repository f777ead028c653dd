// Opening the working store (dump.db): scratch data that only ever holds the
// last run's rows and the last listed entry's attributes.
//
// OpenWorkingStore connects `temp` to its file and makes sure the file can be
// used:
//  - The journal survives a killed process: the store runs with a write-ahead
//    log (the file's "-wal" and "-shm" companions beside it). A process killed
//    at any moment, even inside a batch of rows, leaves the file as of its
//    last commit; the next connection replays or discards the log. Nothing
//    is synced to the disk (synchronous=OFF), which keeps batched inserts as
//    fast as an in-memory journal: only a machine that loses power mid-run
//    can damage the file, and a damaged file is replaced (next point).
//    Pages freed by dropping a run's rows are not zeroed one by one
//    (secure_delete=FAST): the next run's rows overwrite them.
//  - A file that is damaged anyway (truncated, overwritten, not a database at
//    all, or failing the engine's quick check) is replaced by an empty one,
//    owner-only (0600), together with its journal companions; the result says
//    so, with the reason, for the caller to tell the user.
//  - A store that another program holds locked past the busy time-out is
//    not damaged: the engine's "locked" error is raised, nothing replaced.
//  - Only ever the working file: a working file that is the same file as
//    `catalogue` is never replaced (the call fails instead).
//
// Raises like the storage layer (AsgError, EDatabaseError) when the file cannot
// be opened even after it was recreated, or when the engine library is missing.
//
//   TWorkingStoreOpen r = OpenWorkingStore(temp, catalogueFile);
//   if (r.recreated) pane(r.Notice(temp.FullPath()));
#pragma once

#include <string>

#include "sqlstore/database.h"

struct TWorkingStoreOpen {
  bool recreated = false;  // the damaged file was replaced by an empty one
  std::string reason;      // why (the engine's message), when recreated
  // The message pane's line for a recreated store, empty otherwise.
  std::string Notice(const std::string& path) const;
};

// `temp` has its Database and DriverDLL set and is not connected.
TWorkingStoreOpen OpenWorkingStore(TASQLite3DB& temp, const std::string& catalogue);
