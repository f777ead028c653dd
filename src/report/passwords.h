// quorvel-report's bind passwords: where a run gets the password of a server
// that keeps it out of the catalogue, and the command that moves catalogue
// passwords into the desktop keyring.
//
// ResolvePassword fills server.pwd before the connection:
//   --password-file FILE  the file's first line without its line break, for
//                         any server that binds with a DN; a file the group or
//                         others may read or change is refused (exit 1), as is
//                         one that cannot be read or is empty;
//   "keyring"             the Secret Service when one can be reached; else
//                         exit 2, the message naming the server and
//                         --password-file;
//   "ask"                 a prompt on the controlling terminal without echo;
//                         without a terminal exit 2, naming --password-file.
// No password ever comes from the command line or the environment.
//
//   int rc = ResolvePassword(server, "Directory", passwordFile);
//   if (rc != reOk) return rc;       // the message has been written
#pragma once

#include <string>

#include "store/nodedata.h"

class Tdata;

namespace quorvel {

// reOk, or the exit status after the message has been written.
int ResolvePassword(TServerNodeData& server, const std::string& serverName,
                    const std::string& passwordFile);

// --move-passwords-to-keyring: reOk with the count on stderr, reConnect when
// the keyring cannot be reached or refused a password, reWrite when the
// catalogue could not be rewritten.
int MovePasswordsCommand(Tdata& d, const std::string& catalogue);

}  // namespace quorvel
