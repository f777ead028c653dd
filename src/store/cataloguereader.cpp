#include "store/cataloguereader.h"

#include <memory>

namespace quorvel {

std::vector<TCatalogueServer> ReadCatalogue(Tdata& d) {
  std::vector<TCatalogueServer> out;
  if (!d.servers.Active() || !d.profiles.Active()) return out;
  const int readable = d.profiles.FieldIndex("readable");
  for (d.servers.First(); !d.servers.Eof(); d.servers.Next()) {
    TCatalogueServer entry;
    TNodeData& s = entry.server;
    s.kind = 0;
    s.id = d.servers.FieldByName("id").AsInteger();
    s.name = d.servers.FieldByName("name").AsString();
    s.server = std::make_unique<TServerNodeData>();
    s.server->id = s.id;
    s.server->server = d.servers.FieldByName("server").AsString();
    s.server->port = d.servers.FieldByName("port").AsInteger();
    s.server->ssl = d.servers.FieldByName("ssl").AsString();
    s.server->uid = d.servers.FieldByName("uid").AsString();
    s.server->pwd = d.servers.FieldByName("pwd").AsString();
    s.server->basedn = d.servers.FieldByName("basedn").AsString();
    // A catalogue that could not take the column has only simple sign-ins.
    if (d.servers.FieldIndex("auth") >= 0 && d.servers.FieldByName("auth").AsString() == "kerberos")
      s.server->auth = "kerberos";
    for (d.profiles.First(); !d.profiles.Eof(); d.profiles.Next()) {
      if (d.profiles.FieldByName("serverid").AsInteger() != s.id) continue;
      TNodeData p;
      p.kind = 1;
      p.id = d.profiles.FieldByName("id").AsInteger();
      p.name = d.profiles.FieldByName("name").AsString();
      p.profile = std::make_unique<TProfileNodeData>();
      p.profile->serverid = s.id;
      p.profile->basedn = d.profiles.FieldByName("basedn").AsString();
      p.profile->scope = d.profiles.FieldByName("scope").AsInteger();
      p.profile->filter = d.profiles.FieldByName("filter").AsString();
      p.profile->att = d.profiles.FieldByName("att").AsString();
      // A catalogue that could not be given the column keeps the old forms.
      p.profile->readable = readable >= 0 && d.profiles.FieldByName("readable").AsInteger() == 1;
      if (d.profiles.FieldIndex("view") >= 0)
        p.profile->view = d.profiles.FieldByName("view").AsString();
      entry.profiles.push_back(std::move(p));
    }
    out.push_back(std::move(entry));
  }
  return out;
}

}  // namespace quorvel
