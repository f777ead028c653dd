// The schema_cache table, reading a schema from the directory, and the rule
// for when a stored one is read again.
#include "store/schemacache.h"

#include <ctime>
#include <exception>
#include <memory>

#include "ldap/session.h"
#include "store/connect.h"
#include "store/data.h"

namespace quorvel {
namespace {

const char kCreate[] =
    "CREATE TABLE IF NOT EXISTS schema_cache (\n"
    "  serverid INTEGER PRIMARY KEY,\n"
    "  fetched VARCHAR(32),\n"
    "  attributetypes TEXT,\n"
    "  objectclasses TEXT,\n"
    "  note TEXT\n"
    ")";

bool Exec(Tdata& d, const std::string& text, const std::vector<std::string>& values,
          TASQLite3Query* keep = nullptr) {
  try {
    TASQLite3Query local(&d.db);
    TASQLite3Query& q = keep ? *keep : local;
    q.SetSQL(text);
    q.SetParamValues(values);
    q.ExecSQL();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

std::string JoinValues(const std::vector<std::string>& values) {
  std::string out;
  for (const std::string& v : values) {
    for (char c : v) out.push_back(c == '\n' || c == '\r' ? ' ' : c);
    out.push_back('\n');
  }
  return out;
}

std::vector<std::string> SplitValues(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) out.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

// "YYYY-MM-DD HH:MM:SS UTC" to seconds since the epoch; -1 when unreadable.
std::int64_t ParseTime(const std::string& text) {
  std::tm tm{};
  const char* end = strptime(text.c_str(), "%Y-%m-%d %H:%M:%S UTC", &tm);
  if (!end || *end != '\0') return -1;
  return static_cast<std::int64_t>(timegm(&tm));
}

// The values of the entries' attribute called name (case-blind).
std::vector<std::string> ValuesOf(const std::vector<std::unique_ptr<TLDAPResult>>& entries,
                                  std::string_view name) {
  std::vector<std::string> out;
  for (const auto& entry : entries) {
    const TLDAPAttributeList attrs = entry->Attributes();
    for (int a = 0; a < attrs.Count(); ++a) {
      const TLDAPAttribute attr = attrs.Items(a);
      if (!EqualsNoCaseAscii(attr.AttributeName(), name)) continue;
      for (int v = 0; v < attr.Count(); ++v) out.emplace_back(attr.Value(v));
    }
  }
  return out;
}

// One base search; the entries, or the reason it failed in `note`.
bool BaseSearch(TLDAPSend& session, const std::string& base, const std::string& filter,
                const std::vector<std::string>& attributes,
                std::vector<std::unique_ptr<TLDAPResult>>& entries, std::string& note) {
  const bool ok = session.SearchRequest(SS_BaseObject, base, false, filter, attributes, {},
                                        [&](std::unique_ptr<TLDAPResult> entry) {
                                          entries.push_back(std::move(entry));
                                          return true;
                                        });
  if (ok) return true;
  note = "the search of \"" + base +
         "\" failed: ErrorCode: " + std::to_string(session.ResultCode()) +
         ", ErrorDesc: " + session.ResultString();
  return false;
}

}  // namespace

bool EnsureSchemaTable(Tdata& d) {
  return d.db.Connected() && Exec(d, kCreate, {});
}

std::optional<TSchemaRecord> StoredSchema(Tdata& d, int serverid) {
  if (!EnsureSchemaTable(d)) return std::nullopt;
  try {
    TASQLite3Query q(&d.db);
    if (!Exec(d,
              "SELECT serverid, fetched, attributetypes, objectclasses, note FROM schema_cache "
              "WHERE serverid = " +
                  std::to_string(serverid),
              {}, &q))
      return std::nullopt;
    q.First();
    if (q.Eof()) return std::nullopt;
    TSchemaRecord r;
    r.serverid = q.FieldByName("serverid").AsInteger();
    r.fetched = q.FieldByName("fetched").AsString();
    r.attributeTypes = SplitValues(q.FieldByName("attributetypes").AsString());
    r.objectClasses = SplitValues(q.FieldByName("objectclasses").AsString());
    r.note = q.FieldByName("note").AsString();
    return r;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

bool StoreSchema(Tdata& d, const TSchemaRecord& record) {
  if (record.serverid <= 0 || !EnsureSchemaTable(d)) return false;
  return Exec(d,
              "INSERT OR REPLACE INTO schema_cache (serverid, fetched, attributetypes, "
              "objectclasses, note) VALUES (" +
                  std::to_string(record.serverid) + ", ?, ?, ?, ?)",
              {record.fetched, JoinValues(record.attributeTypes), JoinValues(record.objectClasses),
               record.note});
}

bool ForgetSchema(Tdata& d, int serverid) {
  return EnsureSchemaTable(d) &&
         Exec(d, "DELETE FROM schema_cache WHERE serverid = " + std::to_string(serverid), {});
}

bool SchemaIsStale(const TSchemaRecord& record, std::int64_t now) {
  const std::int64_t then = ParseTime(record.fetched);
  // A time in the future (a clock set back) is as unreliable as none.
  return then < 0 || then > now || now - then > kSchemaMaxAge;
}

std::string SchemaTimeText(std::int64_t now) {
  const std::time_t t = static_cast<std::time_t>(now);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[40];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S UTC", &tm);
  return buf;
}

TSchemaRecord ReadSchema(TLDAPSend& session) {
  TSchemaRecord r;
  std::vector<std::unique_ptr<TLDAPResult>> dse;
  if (!BaseSearch(session, "", "(objectClass=*)", {"subschemaSubentry"}, dse, r.note)) return r;
  const std::vector<std::string> subentry = ValuesOf(dse, "subschemaSubentry");
  if (subentry.empty() || subentry.front().empty()) {
    r.note = "its root DSE names no subschema entry";
    return r;
  }
  std::vector<std::unique_ptr<TLDAPResult>> entries;
  if (!BaseSearch(session, subentry.front(), "(objectClass=*)", {"attributeTypes", "objectClasses"},
                  entries, r.note))
    return r;
  r.attributeTypes = ValuesOf(entries, "attributeTypes");
  r.objectClasses = ValuesOf(entries, "objectClasses");
  if (r.attributeTypes.empty()) {
    r.note = "its subschema entry \"" + subentry.front() + "\" gives no attribute types";
    r.objectClasses.clear();
  }
  return r;
}

TServerSchema SchemaForServer(Tdata& d, const TServerNodeData& server, TTrustContext trust,
                              bool refresh) {
  TServerSchema out;
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  std::optional<TSchemaRecord> stored = server.id > 0 ? StoredSchema(d, server.id) : std::nullopt;
  TSchemaRecord record;
  if (stored && !refresh && !SchemaIsStale(*stored, now)) {
    record = std::move(*stored);
  } else {
    std::unique_ptr<TLDAPSend> ldap = ConnectServer(server, trust);
    if (!ldap) {
      out.connectFailed = true;
      out.note = "the server could not be reached";
      return out;
    }
    record = ReadSchema(*ldap);
    ldap->Unbind();
    record.serverid = server.id;
    record.fetched = SchemaTimeText(now);
    out.newNote = !record.note.empty() && (!stored || stored->note != record.note);
    if (server.id > 0) StoreSchema(d, record);
  }
  out.fetched = record.fetched;
  out.note = record.note;
  if (record.note.empty()) {
    out.schema = TSchema::Parse(record.attributeTypes, record.objectClasses);
    out.available = !out.schema.Empty();
    if (!out.available) out.note = "none of its attribute type descriptions could be read";
  }
  return out;
}

std::string NoSchemaText(const std::string& serverName, const std::string& note) {
  return "The server \"" + serverName + "\" publishes no readable schema (" + note +
         "); attribute names and filters are not checked against it.";
}

}  // namespace quorvel
