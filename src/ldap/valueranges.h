// Completing attributes that a directory sends in ranges.
//
// A directory may send at most a fixed number of values of one attribute and
// give them under a description with a range option (member;range=0-1499).
// ReadRangedValues turns every such attribute of every entry in `entries`
// into the attribute itself (member), with all its values:
//
//   - A description whose range ends in "*" only loses its range option.
//   - Otherwise base-scope searches of the entry's DN ask for
//     NAME;range=(HI+1)-* (filter (objectClass=*), no controls), and the
//     values of the description that comes back (NAME;range=LO-HI or
//     NAME;range=LO-*, matched ignoring letter case) are appended in the order
//     received, until its range ends in "*" or the answer holds no such
//     description. Other options of the description (;binary) are kept.
//
// On success ResultCode(), ResultString() and Referals() are what they were
// before (the outcome of the search that produced `entries`) and the result is
// true. A follow-up search that fails (any non-zero result, a lost connection,
// no entry in the answer, or a range that does not move on) stops at once:
// the result is false, ResultCode()/ResultString() tell the follow-up's
// failure (-1 and kRangeNotAdvancing / kRangeEntryMissing for the last two),
// and `failure`, when given, names the entry and the attribute. The entries
// are then incomplete and must not be shown as a whole.
//
//   quorvel::TRangeFailure failure;
//   if (!quorvel::ReadRangedValues(ldap, ldap.SearchResult(), &failure))
//     ... "the values of " + failure.Attribute + " of " + failure.DN ...
#pragma once

#include <string>

#include "ldap/pagingcodec.h"
#include "ldap/session.h"

namespace quorvel {

inline constexpr const char* kRangeNotAdvancing =
    "The server sent a range of values that does not follow the one asked for";
inline constexpr const char* kRangeEntryMissing = "The server did not return the entry";

struct TRangeFailure {
  std::string DN;         // the entry whose values could not be read
  std::string Attribute;  // the attribute, without its range option
};

bool ReadRangedValues(TLDAPSend& session, TLDAPResultList& entries,
                      TRangeFailure* failure = nullptr);

// True when an attribute description of `entry` has a range option, that is
// when ReadRangedValues would change the entry.
bool HasRangedValues(const TLDAPResult& entry);

}  // namespace quorvel
