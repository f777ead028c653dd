// The wire pieces for reading past a directory's limits, free of any socket so
// that tests and fuzzers drive them directly (ldap/paging.h and
// ldap/valueranges.h use them on a session):
//
//   EncodePagedResultsControl  the [0] Controls item of a paged search request
//                              (RFC 2696): page size and cookie, not critical.
//   DecodePagedResultsCookie   the cookie a SearchResultDone carries back.
//   ParseValueRange            an attribute description with a range option,
//                              NAME;range=LO-HI or NAME;range=LO-*, as a
//                              directory sends part of a long value list.
//
// The decoders never read outside the octets they are given and never throw:
// anything malformed reads as "not there".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// The paged-results control, as listed in a root DSE's supportedControl.
inline constexpr const char* kPagedResultsOid = "1.2.840.113556.1.4.319";

// The whole Controls item ([0], tag 0xA0) holding one paged-results control
// without criticality (so not critical) and with the value
// SEQUENCE { INTEGER page_size, OCTET STRING cookie }. It follows the
// protocol operation inside the message envelope.
std::string EncodePagedResultsControl(int32_t page_size, std::string_view cookie);

// Finds the paged-results control in done_rest (what follows the error text of
// a SearchResultDone: an optional referral, then the message's Controls) and
// copies its cookie. False when the done message carries no such control or
// its value is malformed; an empty cookie (the last page) gives true.
bool DecodePagedResultsCookie(std::string_view done_rest, std::string& cookie);

// A description whose options include range=LO-HI (option name in any letter
// case; LO and HI decimal, HI possibly "*").
struct TValueRange {
  std::string Name;  // the description without the range option (member, or
                     // objectSid;binary when other options were there)
  uint64_t Low = 0;
  uint64_t High = 0;   // meaningless when ToEnd
  bool ToEnd = false;  // HI was "*": the last part of the values
};

// The range option of a description, or nothing when it has none (or a
// malformed one, which is then an ordinary description).
std::optional<TValueRange> ParseValueRange(std::string_view description);

}  // namespace quorvel
