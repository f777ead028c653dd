// A server's schema, read from the directory and kept in the catalogue.
//
// Reading: a base search of the root DSE for subschemaSubentry, then a base
// search of the entry it names for attributeTypes and objectClasses. A
// directory whose root DSE names no subschema entry, or refuses either
// search, or whose entry holds no attribute type, publishes no readable
// schema; the reason is kept as the record's note.
//
// The catalogue table, created when absent (by EnsureSchemaTable, on first use):
//   schema_cache (serverid INTEGER PRIMARY KEY, fetched VARCHAR(32),
//                 attributetypes TEXT, objectclasses TEXT, note TEXT)
// fetched is "YYYY-MM-DD HH:MM:SS UTC"; the two lists are the values as
// received, each ended by a line feed (a line break inside a value is kept
// as a blank); note is empty for a schema that was read. A record older than
// kSchemaMaxAge is read again; deleting a server deletes its record.
//
// Failures: the table functions catch every error and give false / nullopt.
// SchemaForServer reports a connection that fails through LogError (as every
// connect does) and then stores nothing.
//
// Typical use:
//   TServerSchema s = quorvel::SchemaForServer(catalogue, server, trust);
//   if (s.available) ... s.schema.FindAttribute("mail") ...
//   else if (s.newNote) LogInfo(...s.note...);   // say it once
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ldap/schema.h"
#include "store/nodedata.h"
#include "store/trust.h"

class Tdata;
class TLDAPSend;

namespace quorvel {

inline constexpr const char* kSchemaTable = "schema_cache";
inline constexpr std::int64_t kSchemaMaxAge = 24 * 60 * 60;  // seconds

struct TSchemaRecord {
  int serverid = 0;
  std::string fetched;  // "YYYY-MM-DD HH:MM:SS UTC"
  std::vector<std::string> attributeTypes, objectClasses;
  std::string note;  // why no schema could be read; empty when it was
};

bool EnsureSchemaTable(Tdata& d);
std::optional<TSchemaRecord> StoredSchema(Tdata& d, int serverid);
// Replaces the server's record.
bool StoreSchema(Tdata& d, const TSchemaRecord& record);
bool ForgetSchema(Tdata& d, int serverid);
// The record was fetched more than kSchemaMaxAge before `now` (seconds since
// the epoch), or its time cannot be read.
bool SchemaIsStale(const TSchemaRecord& record, std::int64_t now);
// The current time as a record keeps it.
std::string SchemaTimeText(std::int64_t now);

// Reads the schema over a connected, bound session; a record without server
// id and time. Never fails otherwise: what went wrong is the note.
TSchemaRecord ReadSchema(TLDAPSend& session);

struct TServerSchema {
  bool available = false;      // a schema with attribute types
  bool connectFailed = false;  // nothing read or stored: the server could not be reached
  TSchema schema;
  std::string note;      // why none is available (also for connectFailed)
  bool newNote = false;  // the note was not the one stored before: tell the user once
  std::string fetched;
};

// The stored schema of the server (its id must be set) when it is fresh and
// refresh is false; otherwise connects (ConnectServer with trust), reads it
// and stores it in place of the old record.
TServerSchema SchemaForServer(Tdata& d, const TServerNodeData& server, TTrustContext trust,
                              bool refresh = false);

// "The server \"NAME\" publishes no readable schema (note); attribute names
// and filters are not checked against it."
std::string NoSchemaText(const std::string& serverName, const std::string& note);

}  // namespace quorvel
