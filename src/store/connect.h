// The main window's only road to a directory server: open and bind a session
// for a stored server record, and run one search for a stored profile record on
// it. Both report their failures themselves through LogError, naming the host,
// the error number and its text, so callers only add their own progress lines.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ldap/session.h"
#include "store/nodedata.h"

// A connected and bound session owned by the caller, or nullptr after the
// failure has been reported. Never unbinds. Security and sign-in as
// quorvel::ApplyConnectionSettings says; a certificate that fails
// verification (SSL/TLS or StartTLS) is decided about by the trust store for
// server.id (store/trust.h).
std::unique_ptr<TLDAPSend> ConnectServer(TServerNodeData server);

// Runs the profile's search on session: the session's SearchResult() (owned by
// the session, valid until it searches again or is destroyed), or nullptr when
// session is nullptr or the search failed (the failure has been reported). A
// search ended by the size limit (code 4) still gives its entries, unreported.
// When a plain search meets the size limit and the server offers paged results,
// the entries are read again in pages (ldap/paging.h; a LogNotice line says
// so), and attributes sent in ranges are completed (ldap/valueranges.h); a
// failed follow-up search is a search failure naming the entry and attribute.
TLDAPResultList* SearchProfile(TLDAPSend* session, TProfileNodeData profile);

// The two closing lines of every error box about a failed session step:
// "\r\n    ErrorCode: n\r\n    ErrorDesc: text", with the socket's (or the SSL
// layer's) number and text when the failure happened below LDAP. Every box
// about a connection, a bind or a search uses it.
std::string ErrorLines(const TLDAPSend& session);
// "Error connecting to \"host\" " + ErrorLines(session): the report of a failed
// connect or bind, the same for a run, a browse, the server dialog's Test and
// quorvel-report. When the failure tells what to do, a line of advice
// follows: a simple bind refused with 8 or 13 (set Security to StartTLS or
// SSL/TLS, or sign in with Kerberos), a refused StartTLS, a Kerberos sign-in
// without a ticket or with an expired one (kinit), an unknown principal, and
// Kerberos refused with 8 inside TLS (set Security to None).
std::string ConnectErrorText(const TLDAPSend& session);

namespace quorvel {
// A server's security and sign-in on a session: ssl "Y" (exactly) SSL/TLS from
// the first byte, "T" StartTLS on the plain port (refused: a connection
// error, never clear text), anything else none; auth "kerberos" signs in with
// the user's Kerberos ticket and clears UserName and Password, anything else
// binds with them.
void ApplyConnectionSettings(TLDAPSend& session, const std::string& ssl, const std::string& auth);

// The names sent for a profile's att text: the pieces between ";" with their
// surrounding blanks removed. Empty pieces stay: an empty att sends one empty
// name, which asks for no attributes at all (the directory browser needs only
// the DNs), while an empty list would ask for every user attribute.
std::vector<std::string> RequestedAttributeNames(const std::string& att);
}  // namespace quorvel
