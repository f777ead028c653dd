// quorvel-report's schema commands:
//   quorvel-report --schema --server NAME
//       prints the server's attribute types, one a line, tab-separated: the
//       name, its other names (comma-separated, empty if none), its syntax
//       OID (inherited through SUP when it has none of its own), "single" or
//       "multi", its description; sorted by name without regard to case.
//   quorvel-report --check --profile NAME [--server NAME]
//       prints one line per finding about the profile's filter and attribute
//       names (store/schemacheck.h); exit 0 when there is none, 1 when there are.
// Both use the schema kept in the catalogue while it is fresh, else read it
// from the server and keep it (store/schemacache.h). A server that cannot be
// reached ends the command with status 2; one that publishes no readable
// schema is said so on standard error: --schema then ends with status 4,
// --check checks nothing and ends with 0. A server that keeps its password in
// the keyring or asks for it gets it as a profile's run does (report/passwords.h,
// --password-file included), and only when its schema must be read again.
#pragma once

#include <string>

#include "ldap/schema.h"

class Tdata;

namespace quorvel {

struct TSchemaOptions {
  std::string catalogueArg;  // the --catalogue value given (empty: none), for the messages
  std::string passwordFile;  // --password-file (empty: none)
};

int SchemaCommand(Tdata& d, const std::string& server, const TSchemaOptions& o);
int CheckCommand(Tdata& d, const std::string& profile, const std::string* server,
                 const TSchemaOptions& o);

// The --schema line of one attribute type (without its line feed).
std::string SchemaLine(const TSchema& schema, const TAttributeType& type);

}  // namespace quorvel
