// The main window's only road to a directory server: open and bind a session
// for a stored server record, and run one search for a stored profile record on
// it. Both report their failures themselves through LogError, naming the host,
// the error number and its text, so callers only add their own progress lines.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "ldap/session.h"
#include "store/nodedata.h"
#include "store/trust.h"

// A connected and bound session owned by the caller, or nullptr after the
// failure has been reported. Never unbinds. Security and sign-in as
// quorvel::ApplyConnectionSettings says; a certificate that fails
// verification (SSL/TLS or StartTLS) is decided about for server.id at the
// host and port connected, with the trusted certificates of trust.catalogue
// and asking trust.prompt (store/trust.h); without them every such
// certificate is refused.
// With `cancel`, the session's CancelFlag is that flag from the start: a set
// flag ends the wait for the bind, and nothing is reported then.
std::unique_ptr<TLDAPSend> ConnectServer(TServerNodeData server, TTrustContext trust = {},
                                         const std::atomic<bool>* cancel = nullptr);

namespace quorvel {
struct TSearchOutcome;
class TSearchSink;
}  // namespace quorvel

// Runs the profile's search on session through the search driver
// (ldap/searchdriver.h): the session's SearchResult() (owned by the session,
// valid until it searches again or is destroyed), or nullptr when session is
// nullptr or the search failed (the failure has been reported, except a
// cancel, which the caller tells). A search ended by the size limit (code 4)
// still gives its entries, unreported. When a plain search meets the size
// limit and the server offers paged results, the entries are read again in
// pages (a LogNotice line says so); paging that would never end is a search
// failure. Attributes sent in ranges are completed; a failed follow-up search
// is a search failure naming the entry and attribute. The session's
// CancelFlag cancels. The search's outcome (result code, text, referrals) is
// the driver's, which `outcome` receives when given; the session's
// ResultCode() and friends tell only the last request it answered.
TLDAPResultList* SearchProfile(TLDAPSend* session, TProfileNodeData profile,
                               quorvel::TSearchOutcome* outcome = nullptr);

// The same search with nothing kept: its events go to `sink` alone (not to the
// session's SearchResult()), so that a run of any size
// holds no entry once its sink has taken what it needs (a row stream stores
// each entry as a row; quorvel::TSearchCounter counts them). True when the
// search gives its entries (result 0, or 4 unreported), where SearchProfile
// gives its list; false when session is nullptr or the search failed, with
// the same reports. The notices, CancelFlag, OnSearchEntry and `outcome` are
// SearchProfile's; the sink's End is told the same outcome.
bool SearchProfileInto(TLDAPSend* session, TProfileNodeData profile, quorvel::TSearchSink& sink,
                       quorvel::TSearchOutcome* outcome = nullptr);

// The two closing lines of every error box about a failed session step:
// "\r\n    ErrorCode: n\r\n    ErrorDesc: text", with the socket's (or the SSL
// layer's) number and text when the failure happened below LDAP. Every box
// about a connection, a bind or a search uses it.
std::string ErrorLines(const TLDAPSend& session);
// The same lines for a search's outcome, from the numbers and texts it kept.
std::string ErrorLines(const quorvel::TSearchOutcome& outcome);
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
