// A search with its referrals: the search driver (ldap/searchdriver.h) on the
// original session, then, when asked to, the places the directory referred to.
//
// A directory answers a search with continuation references (SearchResult-
// Reference: "the rest of this subtree is held there") or, when the base
// itself lies elsewhere, with result 10 and the URLs of where it lies.
// TReferralChaser runs the search on the original session into the sink,
// then:
//   - without an opener (referrals reported): every URL the search met goes
//     to the outcome's NotSearched with an empty reason; nothing else is sent.
//   - with an opener (referrals followed): each URL is searched on a session
//     the opener gives (the same sign-in, never a weaker connection: that is
//     the opener's rule), with the request's filter and attributes and
//     - for a continuation reference, the URL's base, and the scope of the
//       search unless it was one level (then base: the reference names the
//       child itself), as RFC 4511 4.5.3 says;
//     - for a result 10, the URL's base and the search's own scope; its URLs
//       are alternatives, tried in turn until one can be searched;
//     - the URL's own scope and filter, when it has them.
//     The places are searched in the order met (breadth first), each one
//     (host, port and base DN, compared without regard to letter case) once
//     per run; a chain of referrals is followed at most kMaxReferralDepth
//     deep. An entry whose DN was told already (from any place) is not told
//     again. A place that cannot be searched (the opener gives no session,
//     its search fails or is cut by its size limit, the chain is too deep,
//     the URL is not one) goes to NotSearched with the reason, and the run
//     goes on: the outcome is then Incomplete().
// Events, on the thread that calls Run: the sink is told the entries of the
// original search as the driver tells them (Restart included), then those of
// each referred place, numbered on after the original's. A referred place's
// own Restart (its search read again in pages after its size limit) is not
// passed on: the entries read again have DNs told already. End is told once,
// last: the original search's outcome, or, when its base lay elsewhere and
// was followed, the outcome of the place that held it; with NotSearched,
// PlacesSearched, and Received counting every entry told.
// A cancel (the CancelFlag of the original session, which the opener gives
// to its sessions too) or a sink that stops ends the whole run at once, with
// that outcome. Run never throws. Only while following does the chaser keep
// anything per entry: the DNs told, to keep each entry once.
//
//   quorvel::TReferralChaser chaser(session, sink, opener);
//   const quorvel::TSearchOutcome& out = chaser.Run({base, filter, names, SS_WholeSubtree});
//   for (const auto& miss : out.NotSearched) ... miss.Url, miss.Why ...
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "ldap/ldapurl.h"
#include "ldap/searchdriver.h"

namespace quorvel {

inline constexpr int kMaxReferralDepth = 5;

// A signed-in session for the place `url` names (its Host already filled in
// when the URL left it out), or nullptr with the reason in `why`. It must
// never give a weaker connection than the original's, and must set the
// session's CancelFlag to the original's.
using TReferralOpener =
    std::function<std::unique_ptr<TLDAPSend>(const TLdapUrl& url, std::string& why)>;

class TReferralChaser {
 public:
  // An empty opener reports referrals without following them.
  TReferralChaser(TLDAPSend& session, TSearchSink& sink, TReferralOpener opener = nullptr);
  TReferralChaser(const TReferralChaser&) = delete;
  TReferralChaser& operator=(const TReferralChaser&) = delete;

  // The original search's paging events (TSearchDriver::Events).
  TPagingEvents Events;
  // Told before a referred place is searched, with its URL (progress lines).
  std::function<void(const std::string& url)> OnPlace;

  const TSearchOutcome& Run(const TSearchRequest& request);

 private:
  class TPlaceSink;
  // URLs met, and how to search them.
  struct TReferred {
    std::vector<std::string> urls;  // alternatives (a result 10), else one URL
    int depth = 1;                  // 1: met by the original search
    bool base = false;              // where the original search's base lies
    TSearchRequest request;         // its base stays when a URL has none
    std::string host;               // the place that referred, for a URL without a host
    int port = 389;
  };
  // The URLs `found` met, to search at `depth`; `base`: a result 10 there
  // tells where the original search's base lies.
  void Queue(const TSearchOutcome& found, const TSearchRequest& request, int depth,
             const std::string& host, int port, bool base);
  // Searches the first of item's URLs that can be; false when the run must end.
  bool Follow(const TReferred& item);
  // One URL: true when it was searched (or had been), else `why` says why not.
  bool SearchPlace(const TReferred& item, const std::string& text, std::string& why, bool& end);
  void Miss(const std::string& url, const std::string& why);

  TLDAPSend& session_;
  TSearchSink& sink_;
  TReferralOpener opener_;
  TSearchOutcome outcome_;
  std::vector<TReferred> queue_;
  std::unordered_set<std::string> places_;  // host:port/base, lower case
  std::unordered_set<std::string> dns_;     // the DNs told, lower case (only while following)
  int next_ = 0;                            // the position of the next referred entry
  int told_ = 0;                            // entries told in all
};

}  // namespace quorvel
