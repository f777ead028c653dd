#include "store/connect.h"

#include <exception>

#include "ldap/paging.h"
#include "ldap/valueranges.h"
#include "net/blocksocket.h"
#include "store/messages.h"
#include "store/rows.h"
#include "store/trust.h"

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

namespace {
// What the user can do about a failed connect or bind, when the failure says:
// empty when there is nothing to add to the error lines.
std::string ConnectAdvice(const TLDAPSend& session) {
  using quorvel::sasl::TFailure;
  const std::string server = "\"" + session.TargetHost + "\"";
  const bool kerberos = session.BindMethod == BM_Kerberos;
  const int32_t code = session.ResultCode();
  switch (session.KerberosFailure()) {
    case TFailure::NoTicket:
      return "You have no Kerberos ticket: get one with kinit (or by signing in to the domain), "
             "then try again.";
    case TFailure::ExpiredTicket:
      return "Your Kerberos ticket has expired: get a new one with kinit, then try again.";
    case TFailure::UnknownPrincipal:
      return "The Kerberos server does not know the principal: the server's is ldap/" +
             session.TargetHost +
             " (check that Host holds the server's name as the domain knows it), yours is the "
             "one klist shows.";
    case TFailure::None:
    case TFailure::NoLibrary:  // its text already says what to install
    case TFailure::Other:
      break;
  }
  if (session.ResponseTag() == 0x78 && code > 0)
    return server +
           " refused StartTLS, so nothing more was sent: set Security to SSL/TLS in the server's "
           "properties if it offers that, or ask its administrator to enable StartTLS.";
  if (session.ResponseTag() != 0x61) return std::string();
  if (!kerberos && (code == 8 || code == 13))
    return server +
           " requires a signed or encrypted connection for this sign-in: in the server's "
           "properties, set Security to StartTLS or SSL/TLS, or sign in with Kerberos.";
  if (kerberos && code == 8 && (session.FullSSL || session.AutoTLS))
    return server +
           " wants Kerberos itself to sign and seal the connection: in the server's properties, "
           "set Security to None (Kerberos then encrypts everything after the sign-in).";
  return std::string();
}
}  // namespace

std::string ConnectErrorText(const TLDAPSend& session) {
  std::string text = "Error connecting to \"" + session.TargetHost + "\" " + ErrorLines(session);
  const std::string advice = ConnectAdvice(session);
  if (!advice.empty()) text += "\r\n" + advice;
  return text;
}

namespace quorvel {
void ApplyConnectionSettings(TLDAPSend& session, const std::string& ssl, const std::string& auth) {
  session.FullSSL = ssl == "Y";
  session.AutoTLS = ssl == "T";
  if (auth == "kerberos") {
    // Nothing secret is kept for a Kerberos server, and nothing is sent.
    session.BindMethod = BM_Kerberos;
    session.UserName.clear();
    session.Password.clear();
  } else {
    session.BindMethod = BM_Simple;
  }
}
}  // namespace quorvel

std::unique_ptr<TLDAPSend> ConnectServer(TServerNodeData server) {
  auto session = std::make_unique<TLDAPSend>();
  session->TargetHost = server.server;
  session->TargetPort = std::to_string(server.port);
  session->UserName = server.uid;
  session->Password = server.pwd;
  quorvel::ApplyConnectionSettings(*session, server.ssl, server.auth);
  quorvel::RequireTrust(*session, server.id, server.server + ":" + std::to_string(server.port));
  bool ok = false;
  try {
    ok = session->Connect() && session->Bind();
  } catch (const std::exception&) {
    ok = false;
  }
  if (ok) return session;
  LogError(ConnectErrorText(*session));
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
  const std::string& host = session->TargetHost;
  // A directory that caps plain searches gives the rest in pages; the user is
  // told, since that reads the entries a second time.
  int paged_after = -1;
  quorvel::TPagingEvents events;
  events.Started = [&](int received) {
    paged_after = received;
    LogNotice("The size limit of \"" + host + "\" was reached after " + std::to_string(received) +
              " entries; the rest is read in pages of " + std::to_string(quorvel::kPageSize) +
              " entries...");
  };
  events.Refused = [&](int32_t code, const std::string& text) {
    paged_after = -1;
    LogNotice("\"" + host +
              "\" refused to send the entries in pages (ErrorCode: " + std::to_string(code) +
              ", ErrorDesc: " + text + "); only the entries of its size limit are kept.");
  };
  const bool ok =
      quorvel::SearchAllPages(*session, profile.basedn, false, profile.filter, names, events);
  const int32_t code = session->ResultCode();
  if (ok || code == 4) {
    // Attributes sent in ranges get all their values, or the search fails:
    // a cell is never silently short.
    quorvel::TRangeFailure failure;
    if (quorvel::ReadRangedValues(*session, session->SearchResult(), &failure))
      return &session->SearchResult();
    LogError("Error querying \"" + host + "\": the values of attribute \"" + failure.Attribute +
             "\" of entry \"" + failure.DN + "\" could not be read in full " +
             ErrorLines(*session));
    return nullptr;
  }
  if (code == 10) {
    std::string urls;
    for (const auto& url : session->Referals()) urls += url + "\r\n";
    LogError("Error querying \"" + host + "\", a referal has been encountered to: \r\n" + urls +
             ErrorLines(*session));
    return nullptr;
  }
  if (paged_after >= 0) {
    LogError("Error querying \"" + host + "\" while reading the entries in pages (" +
             std::to_string(session->SearchResult().Count()) + " received) " +
             ErrorLines(*session));
    return nullptr;
  }
  LogError("Error querying \"" + host + "\" " + ErrorLines(*session));
  return nullptr;
}

namespace quorvel {
std::vector<std::string> RequestedAttributeNames(const std::string& att) {
  std::vector<std::string> names;
  for (const auto& piece : SplitAttributeList(att)) names.push_back(TrimControl(piece));
  return names;
}
}  // namespace quorvel
