// Decoding of LDAP response messages, free of any socket so that it can be
// driven directly by tests and fuzzers. TLDAPSend uses these steps.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TLDAPResult;

namespace quorvel {

// What one response message says.
struct TDecodedResponse {
  int32_t ResultCode = -1;  // -1 when no LDAPResult was decoded
  std::string ResultString;
  std::string MatchedDN;
  int ResponseTag = -1;  // protocol-operation tag, -1 when none
  // The undecoded remainder (a view into the message): the content of a
  // SearchResultEntry or SearchResultReference, or what follows the error
  // message of an LDAPResult.
  std::string_view Rest;
};

// Decodes the envelope of message. A message whose id differs from expected_id
// is ignored (the result stays empty). Referral URLs carried by an LDAPResult
// with code 10 are appended to referrals.
TDecodedResponse DecodeMessage(std::string_view message, int32_t expected_id,
                               std::vector<std::string>& referrals);

// Fills entry (empty on entry) from the remainder of a SearchResultEntry: its
// DN, then each attribute with its values, exactly as sent.
void ParseSearchEntry(std::string_view rest, TLDAPResult& entry);

// Appends the URLs of a SearchResultReference remainder to referrals.
void ParseSearchReference(std::string_view rest, std::vector<std::string>& referrals);

// The text of an LDAP result code; "--unknown--" for codes not listed.
std::string ResultCodeText(int32_t code);

// Decimal text to a 32-bit integer; fallback when the text is not a number.
int32_t TextToInt(std::string_view text, int32_t fallback);

}  // namespace quorvel
