// The Kerberos part of the SASL library's error texts, as the library words
// them for the failures a user meets, and what kind of failure each is.
#include <gtest/gtest.h>

#include "net/sasllayer.h"

namespace {

using quorvel::sasl::TFailure;

TEST(SaslErrors, KerberosTextAndItsKindFromTheLibrarysWords) {
  const struct {
    const char* detail;
    const char* text;
    TFailure kind;
  } cases[] = {
      {"SASL(-1): generic failure: GSSAPI Error: No credentials were supplied, or the "
       "credentials were unavailable or inaccessible (No Kerberos credentials available "
       "(default cache: FILE:/tmp/none))",
       "No Kerberos credentials available (default cache: FILE:/tmp/none)", TFailure::NoTicket},
      {"SASL(-1): generic failure: GSSAPI Error: Unspecified GSS failure.  Minor code may "
       "provide more information (Server ldap/dc1@EXAMPLE.ORG not found in Kerberos database)",
       "Server ldap/dc1@EXAMPLE.ORG not found in Kerberos database", TFailure::UnknownPrincipal},
      {"SASL(-1): generic failure: GSSAPI Error: Unspecified GSS failure.  Minor code may "
       "provide more information (Ticket expired)",
       "Ticket expired", TFailure::ExpiredTicket},
      // No Kerberos code: the general words tell.
      {"SASL(-1): generic failure: GSSAPI Error: The referenced credential has expired (Success)",
       "The referenced credential has expired", TFailure::ExpiredTicket},
      {"SASL(-1): generic failure: GSSAPI Error: Unspecified GSS failure.  Minor code may "
       "provide more information (Cannot contact any KDC for realm 'EXAMPLE.ORG')",
       "Cannot contact any KDC for realm 'EXAMPLE.ORG'", TFailure::Other},
      {"SASL(-4): no mechanism available: No worthy mechs found",
       "SASL(-4): no mechanism available: No worthy mechs found", TFailure::Other},
  };
  for (const auto& c : cases) {
    const std::string text = quorvel::sasl::KerberosText(c.detail);
    EXPECT_EQ(text, c.text) << c.detail;
    EXPECT_EQ(quorvel::sasl::Classify(text), c.kind) << c.detail;
  }
}

}  // namespace
