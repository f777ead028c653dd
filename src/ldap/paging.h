// Reading every entry of a search from a directory that caps plain searches.
//
// Some directories answer a plain search with at most a fixed number of
// entries and result 4 (size limit exceeded), yet give every entry to a search
// that carries the paged-results control (RFC 2696). The search driver
// (ldap/searchdriver.h, steps 2 to 5) reads such a search again in pages; this
// header holds the page size, the rules that end paging that would never end,
// and SearchAllPages, the driver's paging on a session's own result.
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

#include "ldap/session.h"

namespace quorvel {

// Entries asked for per page.
inline constexpr int32_t kPageSize = 1000;
// Pages in a row without an entry (and with a cookie to go on) that end a
// paged search. One such page happens (a server that closes a page at its own
// time or look-through limit before it found a match), two in a row rarely;
// a third means the server is not getting through the result at all, and
// every further page would cost a round trip for nothing.
inline constexpr int kEmptyPagesLimit = 3;
// ResultString texts of a paged search ended because it would never end: a
// cookie came back with the same page it came with before, or
// kEmptyPagesLimit pages in a row brought no entry.
inline constexpr const char* kPagingRepeated =
    "The server kept paging without end: it sent a page it had sent before";
inline constexpr const char* kPagingEmpty =
    "The server kept paging without end: it sent 3 pages in a row without any entry";

// Notices for the user about paging.
struct TPagingEvents {
  // The plain search was cut at `received` entries; the rest is read in pages.
  std::function<void(int received)> Started;
  // The server refused the paged search with this result; the first
  // attempt's entries stand.
  std::function<void(int32_t code, const std::string& text)> Refused;
};

// Runs the search through the driver without completing value ranges, into
// the session's SearchResult(): afterwards SearchResult() holds the entries
// of the final attempt in the order received, ResultCode() and
// ResultString() tell the search's outcome (those of the last page when
// paged, -1 and the driver's text for its own failures) and Referals() the
// references of every request of the final attempt. OnSearchEntry counts on
// from page to page. True when ResultCode() is 0. Never throws.
bool SearchAllPages(TLDAPSend& session, const std::string& base, bool types_only,
                    const std::string& filter, const std::vector<std::string>& attributes,
                    const TPagingEvents& events = {});

}  // namespace quorvel
