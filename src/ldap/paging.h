// Reading every entry of a search from a directory that caps plain searches.
//
// Some directories answer a plain search with at most a fixed number of
// entries and result 4 (size limit exceeded), yet give every entry to a search
// that carries the paged-results control (RFC 2696). SearchAllPages runs a
// search so that such a cap does not cut it short, while every other server
// sees exactly the requests TLDAPSend::Search sends:
//
//   1. The search goes out exactly as Search sends it (no controls). Any end
//      other than result 4 is the outcome, as from Search.
//   2. After result 4, a base search of the root DSE asks for supportedControl.
//      When it does not list kPagedResultsOid (or cannot be read), the first
//      attempt's entries, result code, text and referrals are the outcome.
//   3. Otherwise events.Started(entries of the first attempt) is told, those
//      entries are dropped, and the search is sent again with the control
//      (kPageSize entries a page, not critical), once per page, following the
//      cookie until the server sends an empty one (or none). SearchResult()
//      then holds the paged search's entries, each once, in the order
//      received; OnSearchEntry counts on from page to page; ResultCode() and
//      ResultString() are those of the last page and Referals() holds the
//      references of all pages.
//   4. A page ending with a non-zero result ends the search with that result,
//      entries so far kept (result 4 again: a total cap that paging cannot
//      lift). One exception: when the first page is refused outright (an error
//      result before any entry, the connection still up, as from a server that
//      lists the control but answers 12 or 53), events.Refused(code, text) is
//      told and the first attempt's outcome comes back as in step 2.
//   5. A server that returns the same cookie with no entry again would never
//      finish: the search ends with ResultCode -1 and kPagingStalled.
//
// Returns true when ResultCode() is 0. Like every session operation it never
// throws.
//
//   quorvel::TPagingEvents events;
//   events.Started = [](int n) { ... "size limit reached after n entries" ... };
//   if (quorvel::SearchAllPages(ldap, base, false, filter, names, events) ||
//       ldap.ResultCode() == 4)
//     ... ldap.SearchResult() ...
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ldap/pagingcodec.h"
#include "ldap/session.h"

namespace quorvel {

// Entries asked for per page.
inline constexpr int32_t kPageSize = 1000;
// ResultString() of a paged search whose server stopped handing out entries.
inline constexpr const char* kPagingStalled =
    "The server returned the same page position again without entries";

struct TPagingEvents {
  // The plain search was cut at `received` entries; the rest is read in pages.
  std::function<void(int received)> Started;
  // The server refused the paged search with this result; the first
  // attempt's entries stand.
  std::function<void(int32_t code, const std::string& text)> Refused;
};

bool SearchAllPages(TLDAPSend& session, const std::string& base, bool types_only,
                    const std::string& filter, const std::vector<std::string>& attributes,
                    const TPagingEvents& events = {});

// True when the server's root DSE lists the paged-results control. Leaves
// SearchResult(), ResultCode(), ResultString() and Referals() as they were.
bool ServerListsPaging(TLDAPSend& session);

}  // namespace quorvel
