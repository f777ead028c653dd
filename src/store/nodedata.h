// The records carried by the tree nodes and passed to ConnectServer and
// SearchProfile. Their fields mirror the catalogue columns.
#pragma once

#include <memory>
#include <string>

struct TServerNodeData {
  int id = 0;          // the catalogue id (0: not stored yet); keys its trusted certificates
  std::string server;  // host name or address
  int port = 389;
  // Security: "Y" SSL/TLS from the first byte, "T" StartTLS on the plain
  // port, anything else none (the catalogue keeps "N").
  std::string ssl = "N";
  std::string auth = "simple";  // sign-in: "kerberos", anything else bind DN and password
  std::string uid;              // bind DN, empty for anonymous
  std::string pwd;
  std::string basedn;
};

struct TProfileNodeData {
  int serverid = 0;
  std::string basedn;
  int scope = 2;  // 0 base object, 1 one level, 2 whole subtree, -1 unknown
  std::string filter;
  std::string att;  // requested attribute names separated by ";"
  // Directory values in their readable forms (SIDs, GUIDs, times); see
  // ldap/valueforms.h. New profiles have it on.
  bool readable = true;
  // The saved layout of the results grid (store/gridview.h); empty for the
  // grid's own layout.
  std::string view;
};

struct TNodeData {
  int kind = 0;  // 0 server, 1 profile, 2 directory entry
  int id = 0;
  std::string name;
  // Exactly one of the two is set: server for kinds 0 and 2, profile for kind 1.
  std::unique_ptr<TServerNodeData> server;
  std::unique_ptr<TProfileNodeData> profile;

  TNodeData() = default;
  TNodeData(const TNodeData& o)
      : kind(o.kind),
        id(o.id),
        name(o.name),
        server(o.server ? std::make_unique<TServerNodeData>(*o.server) : nullptr),
        profile(o.profile ? std::make_unique<TProfileNodeData>(*o.profile) : nullptr) {}
  TNodeData& operator=(const TNodeData& o) {
    if (this != &o) {
      TNodeData copy(o);
      *this = std::move(copy);
    }
    return *this;
  }
  TNodeData(TNodeData&&) = default;
  TNodeData& operator=(TNodeData&&) = default;
};
