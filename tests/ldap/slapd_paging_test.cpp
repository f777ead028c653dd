// Size limits of the private slapd through the program's road (ConnectServer,
// SearchProfile): an identity whose plain searches stop at 1000 entries but
// whose paged searches get everything reads every entry, in the order the
// stock client's paged search gives them; an identity whose paged searches
// are capped too keeps the 1000 entries and result 4.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <vector>

#include "common/slapd_env.h"
#include "ldap/base64.h"
#include "ldap/searchdriver.h"
#include "recording_sink.h"
#include "store/connect.h"

namespace {

using quorvel::test::SlapdEnv;

const SlapdEnv& Env() {
  return quorvel::test::Slapd();
}

struct Searched {
  std::unique_ptr<TLDAPSend> session;
  TLDAPResultList* list = nullptr;
  quorvel::TSearchOutcome outcome;
};

Searched SearchAs(const std::string& dn, const std::string& pw, const std::string& filter) {
  TServerNodeData server;
  server.server = Env().host;
  server.port = Env().port;
  server.uid = dn;
  server.pwd = pw;
  Searched s;
  s.session = ConnectServer(server);
  EXPECT_NE(s.session, nullptr);
  if (!s.session) return s;
  TProfileNodeData profile;
  profile.basedn = Env().base;
  profile.scope = 2;
  profile.filter = filter;
  profile.att = "cn;member";
  s.list = SearchProfile(s.session.get(), profile, &s.outcome);
  return s;
}

}  // namespace

TEST(LdapSlapdPaging, CappedIdentityReadsEveryEntryInPages) {
  QUORVEL_REQUIRE_SLAPD(Env());
  ASSERT_FALSE(Env().cappedDn.empty());
  for (const char* filter : {"(objectClass=*)", "(objectClass=inetOrgPerson)"}) {
    quorvel::test::RecordingSink sink;
    const std::vector<std::string> expected =
        quorvel::test::LdapsearchDns(Env().cappedDn, Env().cappedPw, filter, "-E pr=500/noprompt");
    ASSERT_GT(expected.size(), 3000u) << filter;
    Searched s = SearchAs(Env().cappedDn, Env().cappedPw, filter);
    ASSERT_NE(s.list, nullptr) << filter;
    EXPECT_EQ(s.outcome.Code, 0) << filter;
    ASSERT_EQ(static_cast<std::size_t>(s.list->Count()), expected.size()) << filter;
    for (int i = 0; i < s.list->Count(); ++i)
      ASSERT_EQ(s.list->Items(i)->ObjectName(), expected[static_cast<std::size_t>(i)]) << i;
    EXPECT_TRUE(sink.errors.empty()) << filter;
    ASSERT_EQ(sink.notices.size(), 1u) << filter;
    EXPECT_NE(sink.notices[0].find("was reached after 1000 entries; the rest is read in pages"),
              std::string::npos);
  }
}

TEST(LdapSlapdPaging, TotalCapKeepsTheCappedResult) {
  QUORVEL_REQUIRE_SLAPD(Env());
  quorvel::test::RecordingSink sink;
  Searched s = SearchAs(Env().totalCapDn, Env().totalCapPw, "(objectClass=*)");
  ASSERT_NE(s.list, nullptr);
  EXPECT_EQ(s.list->Count(), 1000);
  EXPECT_EQ(s.outcome.Code, 4);
  EXPECT_EQ(s.outcome.Text, "Size limit Exceeded");
  EXPECT_TRUE(sink.errors.empty());
  EXPECT_EQ(sink.notices.size(), 1u);
}
