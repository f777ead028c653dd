// Brings a catalogue made by an earlier version up to the columns this
// version reads, without changing what its rows mean.
//
// UpgradeCatalogue runs every step whose column is missing, each in a
// transaction of its own, and stops at the first that fails (a catalogue
// the user may only read, a locked file): the program then reads that
// catalogue as it is, with the missing columns' old behaviour. A catalogue
// that already has every column is not written at all.
//
// Steps:
//   profiles.readable (INTEGER, 1 = readable directory values): added with 0
//     for every existing profile, so reports already scheduled keep their
//     forms; profiles stored afterwards are on unless stored otherwise.
//   servers.auth (VARCHAR, "simple" or "kerberos"): added with "simple", so
//     every existing server binds with its DN and password as before.
//   profiles.view (TEXT, the saved layout of the results grid, store/gridview.h):
//     added empty, today's layout, for every existing profile.
//
// Typical use, after connecting and before opening the tables:
//   quorvel::UpgradeCatalogue(db);
#pragma once

#include <string>

#include "sqlstore/database.h"

namespace quorvel {

// True when the catalogue has every column; false (the reason in `error`
// when given) when a step failed.
bool UpgradeCatalogue(TASQLite3DB& db, std::string* error = nullptr);

// True when the table has a column of that name (case-insensitive).
bool HasColumn(TASQLite3DB& db, const std::string& table, const std::string& column);

}  // namespace quorvel
