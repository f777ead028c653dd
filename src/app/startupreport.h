// The box shown when the program cannot open its files at start-up: it names
// the file that failed and the reason, so the user knows what to repair.
#pragma once

#include <string>

class Tdata;

namespace quorvel {

// "Error initializing application!" followed by the file that could not be
// opened (the engine library, the catalogue or the working store, whichever
// step failed) and the reason the storage layer gave.
std::string StartupFailureText(const Tdata& d);

}  // namespace quorvel
