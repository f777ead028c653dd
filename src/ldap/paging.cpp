#include "ldap/paging.h"

#include "ldap/searchdriver.h"

namespace quorvel {

bool SearchAllPages(TLDAPSend& session, const std::string& base, bool types_only,
                    const std::string& filter, const std::vector<std::string>& attributes,
                    const TPagingEvents& events) {
  TResultListSink list(&session.SearchResult());
  TSearchDriver driver(session, list);
  driver.CompleteRanges = false;
  driver.Events = events;
  const TSearchOutcome& out =
      driver.Run({base, filter, attributes, session.SearchScope, types_only});
  session.SetSearchOutcome(out.Code, out.Text, out.Referrals);
  return out.Code == 0 && out.Delivers();
}

}  // namespace quorvel
