// Helpers for programs that drive the real main window outside the test run
// (screenshots, benchmarks) and for the GUI fixture: a private program folder
// laid out like the build's, and a catalogue filled for the occasion.
#pragma once

#include <string>
#include <vector>

namespace quorvel::tool {

// Creates lib/, help/ and data/ in `folder` (trailing "/"): copies of the
// build's two database files, a link to its engine library and the help pages
// of the source tree. Returns an empty text or what went wrong.
std::string PrepareProgramFolder(const std::string& buildDir, const std::string& sourceDir,
                                 const std::string& folder);

}  // namespace quorvel::tool
