// Attributes that a directory sends in ranges.
//
// A directory may send at most a fixed number of values of one attribute and
// give them under a description with a range option (member;range=0-1499).
// The search driver (ldap/searchdriver.h, step 6) completes every such
// attribute with follow-up searches of its entry, so that the entry carries
// the attribute itself (member) with all its values; this header holds the
// texts of a follow-up that goes wrong and the test for an entry that needs
// follow-ups. Other options of the description (;binary) are kept.
#pragma once

#include <cstdint>

#include "ldap/pagingcodec.h"
#include "ldap/results.h"

namespace quorvel {

// The follow-up's part does not start where the last one ended, or it is not
// the last part yet brings no value: reading on would never end.
inline constexpr const char* kRangeNotAdvancing =
    "The server sent a range of values that does not follow the one asked for";
inline constexpr const char* kRangeEntryMissing = "The server did not return the entry";
// A follow-up answered with an entry other than the one asked for.
inline constexpr const char* kRangeOtherEntry =
    "The server returned another entry than the one asked for";
// The values of one attribute would need more follow-ups, or come to more
// values, than the bounds below: no real directory comes near them, so a
// server that goes on is taken to be one that never ends.
inline constexpr const char* kRangeTooLong =
    "The server sent the values in more parts than any directory needs";
inline constexpr uint64_t kRangeFollowUpsLimit = 100000;
inline constexpr uint64_t kRangeValuesLimit = 10000000;

// True when an attribute description of `entry` has a range option, that is
// when the driver's follow-ups would change the entry.
bool HasRangedValues(const TLDAPResult& entry);

}  // namespace quorvel
