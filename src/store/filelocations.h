// Where the programs keep their files: one rule for the windowed program and
// quorvel-report alike.
//
// The program folder (AppPath) always holds the executables, the engine
// library link lib/quorvel.so and help/. The catalogue, the working store and
// the temporary files of reports opened for viewing live
//  - beside the executable (portable): lib/quorvel.db, lib/dump.db and data/,
//    when lib/ there is writable for this user (the build folder, a copied
//    program folder) and the folder is not a system-wide install; exactly as a
//    program folder has always been laid out;
//  - in the user's data folder otherwise: $XDG_DATA_HOME/quorvel/ (a relative
//    or empty XDG_DATA_HOME counts as unset; default ~/.local/share/quorvel/)
//    holding quorvel.db, dump.db and data/.
//
// A system-wide install (the Debian package) carries the file lib/system-wide.
// There even root, who may write anywhere, keeps its own catalogue in its own
// data folder and never writes into files that belong to the package.
//
// LocateFiles prepares a user data folder at first start: the folders it
// lacks are created owner-only (0700), the catalogue is copied from the
// installed empty one (lib/quorvel.db in the program folder) and an empty
// working store is created, both owner-only (0600). Files and folders that
// exist are kept exactly as they are. A catalogue copy is completed under a
// temporary name first, so a start that is cut short never leaves half a
// catalogue. When a folder cannot be created, `error` says which and why, and
// nothing is written anywhere else.
//
//   TFileLocations f = LocateFiles(ExecutableFolder());
//   if (!f.error.empty()) fail(f.error);
//   open(f.catalogue, f.working, f.engine);
#pragma once

#include <string>

struct TFileLocations {
  bool portable = true;   // files beside the executable
  std::string program;    // the executable's folder, with a trailing "/"
  std::string engine;     // program + "lib/quorvel.so"
  std::string folder;     // the folder of the catalogue and the working store, with "/"
  std::string catalogue;  // folder + "quorvel.db"
  std::string working;    // folder + "dump.db"
  std::string temp;       // temporary files of viewed reports, with a trailing "/"
  std::string error;      // why the user data folder could not be prepared
};

// The locations in use: set by InitDatabases() for the windowed program and by
// quorvel-report; portable beside AppPath until then.
extern TFileLocations Files;

// The rule above for the program folder `program` (with its trailing "/").
TFileLocations LocateFiles(const std::string& program);

// The user data folder that the rule chooses when the program is installed
// system-wide ($XDG_DATA_HOME/quorvel/ or ~/.local/share/quorvel/), with "/".
std::string UserDataFolder();
