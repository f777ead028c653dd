#include "store/connect.h"

#include <exception>
#include <utility>

#include "ldap/searchdriver.h"
#include "net/blocksocket.h"
#include "store/messages.h"
#include "store/rows.h"
#include "store/trust.h"

// The error number and text shown for a failed session step. When the
// directory never answered (code 0 after a failed connect, or -1 when no
// response could be read) and the connection itself failed, the socket's
// number and text say what went wrong; for an SSL/TLS failure the SSL layer's
// own text follows in parentheses.
namespace {
std::string ErrorLinesOf(int32_t code, std::string text, int32_t socket_error,
                         const std::string& socket_text, const std::string& ssl_text) {
  if ((code == 0 || code == -1) && socket_error != 0) {
    code = socket_error;
    text = socket_text;
    if (code == 10091 && !ssl_text.empty()) text += " (" + ssl_text + ")";
  }
  return "\r\n    ErrorCode: " + std::to_string(code) + "\r\n    ErrorDesc: " + text;
}
}  // namespace

std::string ErrorLines(const TLDAPSend& session) {
  const TTCPBlockSocket* sock = session.Sock();
  return ErrorLinesOf(session.ResultCode(), session.ResultString(), sock->LastError(),
                      sock->LastErrorText(), sock->SSL()->LastErrorText());
}

std::string ErrorLines(const quorvel::TSearchOutcome& outcome) {
  return ErrorLinesOf(outcome.Code, outcome.Text, outcome.SocketError, outcome.SocketErrorText,
                      outcome.SslErrorText);
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

std::unique_ptr<TLDAPSend> ConnectServer(TServerNodeData server, TTrustContext trust,
                                         const std::atomic<bool>* cancel) {
  auto session = std::make_unique<TLDAPSend>();
  session->CancelFlag = cancel;
  session->TargetHost = server.server;
  session->TargetPort = std::to_string(server.port);
  session->UserName = server.uid;
  session->Password = server.pwd;
  quorvel::ApplyConnectionSettings(*session, server.ssl, server.auth);
  quorvel::RequireTrust(*session, trust, server.id);
  bool ok = false;
  try {
    ok = session->Connect() && session->Bind();
  } catch (const std::exception&) {
    ok = false;
  }
  if (ok) return session;
  if (session->Cancelled()) return nullptr;  // the user's own doing: the caller says so
  LogError(ConnectErrorText(*session));
  return nullptr;
}

TLDAPResultList* SearchProfile(TLDAPSend* session, TProfileNodeData profile,
                               quorvel::TSearchOutcome* outcome) {
  if (!session) return nullptr;
  quorvel::TResultListSink list(&session->SearchResult());
  return SearchProfileInto(session, std::move(profile), list, outcome) ? &session->SearchResult()
                                                                       : nullptr;
}

bool SearchProfileInto(TLDAPSend* session, TProfileNodeData profile, quorvel::TSearchSink& sink,
                       quorvel::TSearchOutcome* outcome) {
  if (!session) return false;
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
  quorvel::TSearchDriver driver(*session, sink);
  // A directory that caps plain searches gives the rest in pages; the user is
  // told, since that reads the entries a second time.
  driver.Events.Started = [&](int received) {
    LogNotice("The size limit of \"" + host + "\" was reached after " + std::to_string(received) +
              " entries; the rest is read in pages of " + std::to_string(quorvel::kPageSize) +
              " entries...");
  };
  driver.Events.Refused = [&](int32_t code, const std::string& text) {
    LogNotice("\"" + host +
              "\" refused to send the entries in pages (ErrorCode: " + std::to_string(code) +
              ", ErrorDesc: " + text + "); only the entries of its size limit are kept.");
  };
  const quorvel::TSearchOutcome& out =
      driver.Run({profile.basedn, profile.filter, names, session->SearchScope, false});
  if (outcome) *outcome = out;
  if (out.Delivers()) return true;
  switch (out.Failure) {
    case quorvel::sfCancelled:
      break;  // the user's own doing: the caller says so
    case quorvel::sfRange:
      // A cell is never silently short.
      LogError("Error querying \"" + host + "\": the values of attribute \"" + out.RangeAttribute +
               "\" of entry \"" + out.RangeDN + "\" could not be read in full " + ErrorLines(out));
      break;
    default:
      if (out.Code == 10) {
        std::string urls;
        for (const auto& url : out.Referrals) urls += url + "\r\n";
        LogError("Error querying \"" + host + "\", a referal has been encountered to: \r\n" + urls +
                 ErrorLines(out));
      } else if (out.PagedAfter >= 0) {
        LogError("Error querying \"" + host + "\" while reading the entries in pages (" +
                 std::to_string(out.Received) + " received) " + ErrorLines(out));
      } else {
        LogError("Error querying \"" + host + "\" " + ErrorLines(out));
      }
  }
  return false;
}

namespace quorvel {
std::vector<std::string> RequestedAttributeNames(const std::string& att) {
  std::vector<std::string> names;
  for (const auto& piece : SplitAttributeList(att)) names.push_back(TrimControl(piece));
  return names;
}
}  // namespace quorvel
