// Referrals of a run: whether a server's are followed, the sessions that
// follow them, and the lines that tell the places not searched (the same for
// a run, a browse and quorvel-report).
//
// A server's `referrals` setting (catalogue servers.referrals) is "report" or
// "follow"; anything else reports. Following (ldap/referralchaser.h) signs in
// at each referred place as the server itself does, never over a weaker
// connection:
//   - the same bind DN and password, or Kerberos (for ldap/ + the referred host);
//   - ldaps:// is SSL/TLS from the first byte, its certificate verified, and
//     trusted or asked about as any server's, for that host and port;
//   - ldap:// from a server with SSL/TLS or StartTLS is upgraded with StartTLS,
//     and not followed where StartTLS is refused: nothing then goes in clear;
//   - ldap:// from a server without security is as clear as the server itself.
// A place that cannot be opened gives the reason in one line.
//
//   quorvel::TReferralFollowing follow{server, trust};
//   SearchProfileInto(session, profile, sink, &outcome, &follow);
//   for (const std::string& line : quorvel::ReferralLines(outcome)) AddMessage(1, "MSG: " + line);
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ldap/referralchaser.h"
#include "store/nodedata.h"
#include "store/trust.h"

namespace quorvel {

inline constexpr const char* kReferralsReport = "report";
inline constexpr const char* kReferralsFollow = "follow";
// Most URLs listed one a line; the rest are counted.
inline constexpr int kReferralLinesShown = 20;
// Given once, wherever referrals were not followed.
inline constexpr const char* kGlobalCatalogHint =
    "An Active Directory forest keeps its other partitions (other domains, DomainDnsZones, "
    "ForestDnsZones, Configuration) in other places: search the Global Catalog (port 3268, "
    "or 3269 with SSL/TLS) to include them.";

// The server whose referrals a search follows, and the trust its
// certificates are decided with.
struct TReferralFollowing {
  TServerNodeData server;
  TTrustContext trust;
};

// Whether the server's setting says to follow.
bool FollowsReferrals(const TServerNodeData& server);

// Sessions for the chaser: the server's sign-in, its trust, `cancel` as their
// CancelFlag, and the connection rules above.
TReferralOpener ReferralOpener(const TReferralFollowing& follow, const std::atomic<bool>* cancel);

// The lines (without the pane's "MSG: ") telling the outcome's places not
// searched: a heading with their count, one line per URL (with its reason
// when there is one) for the first kReferralLinesShown, the count of the
// rest, then kGlobalCatalogHint when any was only reported. Empty when every
// place was searched.
std::vector<std::string> ReferralLines(const TSearchOutcome& outcome);
// " (N referrals not followed)" for the title line, or empty.
std::string ReferralTitleNote(const TSearchOutcome& outcome);
// The text of a result 10 for the search's base: "The entry lies in another
// directory: URL ...", why each could not be searched when following, what
// to do, and kGlobalCatalogHint.
std::string BaseReferralText(const TSearchOutcome& outcome);

}  // namespace quorvel
