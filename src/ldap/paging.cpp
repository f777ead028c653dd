// Searches read in pages after a plain search met the server's size limit
// (the steps are listed in ldap/paging.h).
#include "ldap/paging.h"

#include <utility>

#include "ldap/results.h"

namespace quorvel {

namespace {

bool ListsPaging(const TLDAPResultList& dse) {
  for (int i = 0; i < dse.Count(); ++i) {
    const TLDAPAttributeList attrs = dse.Items(i)->Attributes();
    for (int a = 0; a < attrs.Count(); ++a) {
      const TLDAPAttribute attr = attrs.Items(a);
      if (!EqualsNoCaseAscii(attr.AttributeName(), "supportedControl")) continue;
      for (int v = 0; v < attr.Count(); ++v)
        if (attr.Value(v) == kPagedResultsOid) return true;
    }
  }
  return false;
}

}  // namespace

// The session's result state, kept aside while other searches run.
class TPagedSearch {
 public:
  struct TOutcome {
    TLDAPResultList entries;
    int32_t code = 0;
    std::string text;
    std::vector<std::string> referrals;
  };

  // Moves the session's outcome into `out` (the session keeps an empty list).
  static void Keep(TLDAPSend& s, TOutcome& out) {
    out.entries.Swap(s.FSearchResult);
    out.code = s.FResultCode;
    out.text = s.FResultString;
    out.referrals = s.FReferals;
  }
  static void Restore(TLDAPSend& s, TOutcome& from) {
    s.FSearchResult.Clear();
    s.FSearchResult.Swap(from.entries);
    s.FResultCode = from.code;
    s.FResultString = from.text;
    s.FReferals = from.referrals;
  }

  static bool ListsPaging(TLDAPSend& s) {
    TOutcome kept;
    Keep(s, kept);
    const std::string op =
        s.SearchOperation(SS_BaseObject, "", false, "(objectClass=*)", {"supportedControl"});
    TLDAPResultList dse;
    const bool listed = s.ExchangeSearch(op, {}, dse, false, nullptr) && quorvel::ListsPaging(dse);
    Restore(s, kept);
    return listed;
  }

  static bool Run(TLDAPSend& s, const std::string& base, bool types_only, const std::string& filter,
                  const std::vector<std::string>& attributes, const TPagingEvents& events) {
    if (s.Search(base, types_only, filter, attributes)) return true;
    if (s.FResultCode != 4 || !ListsPaging(s)) return false;

    TOutcome first;
    Keep(s, first);
    if (events.Started) events.Started(first.entries.Count());
    s.FReferals.clear();
    const std::string op = s.SearchOperation(s.SearchScope, base, types_only, filter, attributes);
    std::string cookie, done;
    for (int page = 0;; ++page) {
      const int before = s.FSearchResult.Count();
      if (!s.ExchangeSearch(op, EncodePagedResultsControl(kPageSize, cookie), s.FSearchResult, true,
                            &done)) {
        const bool refused = page == 0 && s.FSearchResult.Count() == 0 && s.FResultCode > 0 &&
                             s.FResultCode != 4 && s.FResultCode != 10;
        if (!refused) return false;
        if (events.Refused) events.Refused(s.FResultCode, s.FResultString);
        Restore(s, first);
        return false;
      }
      std::string next;
      if (!DecodePagedResultsCookie(done, next) || next.empty()) return true;
      if (next == cookie && s.FSearchResult.Count() == before) {
        s.FResultCode = -1;
        s.FResultString = kPagingStalled;
        return false;
      }
      cookie = std::move(next);
    }
  }
};

bool SearchAllPages(TLDAPSend& session, const std::string& base, bool types_only,
                    const std::string& filter, const std::vector<std::string>& attributes,
                    const TPagingEvents& events) {
  return TPagedSearch::Run(session, base, types_only, filter, attributes, events);
}

bool ServerListsPaging(TLDAPSend& session) {
  return TPagedSearch::ListsPaging(session);
}

}  // namespace quorvel
