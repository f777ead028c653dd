#include "store/connect.h"

#include <exception>

#include "net/blocksocket.h"
#include "store/messages.h"
#include "store/rows.h"
#include "store/trust.h"

namespace {

// The error number and text shown for a failed session step. When the
// directory never answered (code 0 after a failed connect, or -1 when no
// response could be read) and the connection itself failed, the socket's
// number and text say what went wrong; for an SSL/TLS failure the SSL layer's
// own text follows in parentheses.
std::string ErrorLines(const TLDAPSend& session) {
  int32_t code = session.ResultCode();
  std::string text = session.ResultString();
  const TTCPBlockSocket* sock = session.Sock();
  if ((code == 0 || code == -1) && sock->LastError() != 0) {
    code = sock->LastError();
    text = sock->LastErrorText();
    const std::string& ssl_text = sock->SSL()->LastErrorText();
    if (code == 10091 && !ssl_text.empty()) text += " (" + ssl_text + ")";
  }
  return "\r\n    ErrorCode: " + std::to_string(code) + "\r\n    ErrorDesc: " + text;
}

}  // namespace

std::unique_ptr<TLDAPSend> ConnectServer(TServerNodeData server) {
  auto session = std::make_unique<TLDAPSend>();
  session->TargetHost = server.server;
  session->TargetPort = std::to_string(server.port);
  session->UserName = server.uid;
  session->Password = server.pwd;
  if (server.ssl == "Y") session->FullSSL = true;
  quorvel::RequireTrust(*session, server.id, server.server + ":" + std::to_string(server.port));
  bool ok = false;
  try {
    ok = session->Connect() && session->Bind();
  } catch (const std::exception&) {
    ok = false;
  }
  if (ok) return session;
  LogError("Error connecting to \"" + server.server + "\" " + ErrorLines(*session));
  return nullptr;
}

TLDAPResultList* SearchProfile(TLDAPSend* session, TProfileNodeData profile) {
  if (!session) return nullptr;
  switch (profile.scope) {
    case 0:
      session->SearchScope = SS_BaseObject;
      break;
    case 1:
      session->SearchScope = SS_SingleLevel;
      break;
    case 2:
      session->SearchScope = SS_WholeSubtree;
      break;
    default:
      break;  // an unknown scope keeps the session's own
  }
  const std::vector<std::string> names = quorvel::RequestedAttributeNames(profile.att);
  if (session->Search(profile.basedn, false, profile.filter, names)) {
    return &session->SearchResult();
  }
  const int32_t code = session->ResultCode();
  if (code == 4) return &session->SearchResult();
  if (code == 10) {
    std::string urls;
    for (const auto& url : session->Referals()) urls += url + "\r\n";
    LogError("Error querying \"" + session->TargetHost +
             "\", a referal has been encountered to: \r\n" + urls + ErrorLines(*session));
    return nullptr;
  }
  LogError("Error querying \"" + session->TargetHost + "\" " + ErrorLines(*session));
  return nullptr;
}

namespace quorvel {
std::vector<std::string> RequestedAttributeNames(const std::string& att) {
  std::vector<std::string> names;
  for (const auto& piece : SplitAttributeList(att)) names.push_back(TrimControl(piece));
  return names;
}
}  // namespace quorvel
