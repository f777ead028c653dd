// The box shown when the program cannot open its files at start-up: it names
// the file that failed and the reason, so the user knows what to repair.
#pragma once

#include <string>

class Tdata;

namespace quorvel {

// "Error initializing application!" followed by what went wrong: the reason
// the user data folder could not be prepared (Files.error), else the file
// that could not be opened (the engine library, the catalogue or the working
// store, whichever step failed) and the reason the storage layer gave. With no
// data module (`d` null) and no folder error, the first line alone.
std::string StartupFailureText(const Tdata* d);

}  // namespace quorvel
