#include "report/schemacommands.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <optional>
#include <vector>

#include "net/keyring.h"
#include "report/certcommands.h"
#include "report/passwords.h"
#include "report/reportrun.h"
#include "store/cataloguereader.h"
#include "store/data.h"
#include "store/messages.h"
#include "store/schemacache.h"
#include "store/schemacheck.h"

namespace quorvel {
namespace {

int Usage(const std::string& text) {
  std::fprintf(stderr, "quorvel-report: %s\nTry 'quorvel-report --help'.\n", text.c_str());
  return reUsage;
}

// Tabs and line breaks inside a field would break the line's columns.
std::string Field(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  return out;
}

// A fresh stored schema is used as it is; otherwise the server is read.
bool SchemaNeedsServer(Tdata& d, const TServerNodeData& server) {
  const std::optional<TSchemaRecord> stored = StoredSchema(d, server.id);
  return !stored || SchemaIsStale(*stored, static_cast<std::int64_t>(std::time(nullptr)));
}

// The schema of the stored server, or the exit status after the message. A
// server that keeps its password out of the catalogue is given it (keyring,
// terminal or --password-file) only when the server must be read; the
// password is wiped once the schema is in.
std::optional<TSchema> LoadSchema(Tdata& d, const TNodeData& node, const TSchemaOptions& o,
                                  int& status, int noSchemaStatus) {
  TServerNodeData server = *node.server;
  struct TWipe {
    std::string& pwd;
    ~TWipe() { keyring::Wipe(pwd); }
  } wipe{server.pwd};
  if (SchemaNeedsServer(d, server)) {
    if (const int rc = ResolvePassword(server, node.name, o.passwordFile); rc != reOk) {
      status = rc;
      return std::nullopt;
    }
  }
  TRefusingTrustPrompt refusing;
  TServerSchema s = SchemaForServer(d, server, {&d, &refusing});
  if (s.connectFailed) {
    if (refusing.last)
      LogError(UntrustedCertificateMessage(*refusing.last, node.name, o.catalogueArg));
    status = reConnect;
    return std::nullopt;
  }
  if (!s.available) {
    LogError(NoSchemaText(node.name, s.note));
    status = noSchemaStatus;
    return std::nullopt;
  }
  return std::move(s.schema);
}

}  // namespace

std::string SchemaLine(const TSchema& schema, const TAttributeType& type) {
  std::string others;
  for (std::size_t i = 1; i < type.names.size(); ++i)
    others += (i > 1 ? "," : "") + Field(type.names[i]);
  return Field(type.Name()) + "\t" + others + "\t" + Field(schema.Syntax(type)) + "\t" +
         (type.singleValue ? "single" : "multi") + "\t" + Field(type.desc);
}

int SchemaCommand(Tdata& d, const std::string& name, const TSchemaOptions& o) {
  std::vector<TNodeData> found;
  for (const TCatalogueServer& s : ReadCatalogue(d))
    if (s.server.name == name) found.push_back(s.server);
  if (found.empty()) return Usage("no server named '" + name + "' (see quorvel-report --list)");
  if (found.size() > 1)
    return Usage("several servers are named '" + name + "'; rename one in the program first");
  int status = reOk;
  const std::optional<TSchema> schema = LoadSchema(d, found[0], o, status, reSearch);
  if (!schema) return status;
  std::vector<const TAttributeType*> types;
  for (const TAttributeType& t : schema->AttributeTypes()) types.push_back(&t);
  std::stable_sort(types.begin(), types.end(),
                   [](const TAttributeType* a, const TAttributeType* b) {
                     return LessNoCase(a->Name(), b->Name());
                   });
  for (const TAttributeType* t : types) std::printf("%s\n", SchemaLine(*schema, *t).c_str());
  return std::fflush(stdout) == 0 ? reOk : reWrite;
}

int CheckCommand(Tdata& d, const std::string& profile, const std::string* server,
                 const TSchemaOptions& o) {
  std::vector<std::pair<TNodeData, TNodeData>> found;
  for (const TCatalogueServer& s : ReadCatalogue(d)) {
    if (server && s.server.name != *server) continue;
    for (const TNodeData& p : s.profiles)
      if (p.name == profile) found.push_back({s.server, p});
  }
  if (found.empty()) {
    std::string text = "no profile named '" + profile + "'";
    if (server) text += " on a server named '" + *server + "'";
    return Usage(text + " (see quorvel-report --list)");
  }
  if (found.size() > 1) {
    std::string text =
        "the profile name '" + profile + "' is used on several servers; choose one with --server:";
    for (auto& [s, p] : found) text += "\n  " + s.name + "\t" + p.name;
    return Usage(text);
  }
  int status = reOk;
  const std::optional<TSchema> schema = LoadSchema(d, found[0].first, o, status, reOk);
  if (!schema) return status;
  const TProfileNodeData& p = *found[0].second.profile;
  const std::vector<std::string> findings =
      ProfileFindings(*schema, found[0].first.name, p.filter, p.att);
  for (const std::string& f : findings) std::printf("%s\n", f.c_str());
  if (std::fflush(stdout) != 0) return reWrite;
  return findings.empty() ? reOk : 1;
}

}  // namespace quorvel
