// Helpers for programs that drive the real main window outside the test run
// (screenshots, benchmarks) and for the GUI fixture: a private program folder
// laid out like the build's, and a catalogue filled for the occasion.
#pragma once

#include <functional>
#include <string>
#include <vector>

class Tdata;

namespace quorvel::tool {

// Creates lib/, help/ and data/ in `folder` (trailing "/"): copies of the
// build's two database files, a link to its engine library and the help pages
// of the source tree. Returns an empty text or what went wrong.
std::string PrepareProgramFolder(const std::string& buildDir, const std::string& sourceDir,
                                 const std::string& folder);

// Connects `d` to the folder's catalogue and working store through the
// folder's engine library.
bool OpenProgramFolder(Tdata& d, const std::string& folder);

// PrepareProgramFolder, then `fill` with the new folder's catalogue open (to
// store the servers and profiles the occasion needs).
std::string PrepareProgramFolder(const std::string& buildDir, const std::string& sourceDir,
                                 const std::string& folder,
                                 const std::function<void(Tdata&)>& fill);

}  // namespace quorvel::tool
