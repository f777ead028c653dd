// The LDAP client against the private slapd: binds, scopes, filters (compared
// with what ldapsearch finds for the same text), attribute selection, limits,
// referrals, StartTLS and LDAPS, and the failure reports of ConnectServer.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>

#include "common/slapd_env.h"
#include "ldap/base64.h"
#include "ldap/session.h"
#include "net/blocksocket.h"
#include "recording_sink.h"
#include "store/connect.h"
#include "store/rows.h"

namespace {

using quorvel::test::SlapdEnv;

const SlapdEnv& Env() {
  return quorvel::test::Slapd();
}

std::unique_ptr<TLDAPSend> Open(const std::string& dn, const std::string& pw) {
  const SlapdEnv& env = Env();
  auto ldap = std::make_unique<TLDAPSend>();
  ldap->TargetHost = env.host;
  ldap->TargetPort = std::to_string(env.port);
  ldap->UserName = dn;
  ldap->Password = pw;
  ldap->Timeout = 20000;
  return ldap;
}

std::unique_ptr<TLDAPSend> Admin() {
  auto ldap = Open(Env().adminDn, Env().adminPw);
  EXPECT_TRUE(ldap->Connect());
  EXPECT_TRUE(ldap->Bind()) << ldap->ResultCode() << " " << ldap->ResultString();
  return ldap;
}

std::set<std::string> Dns(const TLDAPResultList& list) {
  std::set<std::string> dns;
  for (int i = 0; i < list.Count(); ++i) dns.emplace(list.Items(i)->ObjectName());
  return dns;
}

// The DNs ldapsearch finds for the filter text (as admin, whole subtree).
std::set<std::string> LdapsearchDns(const std::string& filter) {
  const std::vector<std::string> dns =
      quorvel::test::LdapsearchDns(Env().adminDn, Env().adminPw, filter);
  return std::set<std::string>(dns.begin(), dns.end());
}

TLDAPAttribute Find(TLDAPResult* r, std::string_view name) {
  return quorvel::FindRequestedAttribute(*r, name);
}

}  // namespace

TEST(LdapSlapd, BindsAnonymousSimpleAndWrongPassword) {
  QUORVEL_REQUIRE_SLAPD(Env());
  auto anon = Open("", "");
  ASSERT_TRUE(anon->Connect());
  EXPECT_TRUE(anon->Bind());
  EXPECT_EQ(anon->ResultString(), "Success");

  auto user = Open(Env().userDn, Env().userPw);
  ASSERT_TRUE(user->Connect());
  EXPECT_TRUE(user->Bind());

  auto wrong = Open(Env().userDn, "not-the-password");
  ASSERT_TRUE(wrong->Connect());
  EXPECT_FALSE(wrong->Bind());
  EXPECT_EQ(wrong->ResultCode(), 49);
  EXPECT_EQ(wrong->ResultString(), "Invalid credentials");
  EXPECT_TRUE(wrong->Unbind());
}

TEST(LdapSlapd, ScopesAndTheTreeBelowABase) {
  QUORVEL_REQUIRE_SLAPD(Env());
  auto ldap = Admin();
  const std::string tree = "ou=tree," + Env().base;
  const std::pair<TLDAPSearchScope, std::set<std::string>> cases[] = {
      {SS_BaseObject, {tree}},
      {SS_SingleLevel, {"ou=a," + tree, "ou=b," + tree}},
      {SS_WholeSubtree,
       {tree, "ou=a," + tree, "ou=b," + tree, "cn=leaf1,ou=a," + tree, "cn=leaf2,ou=a," + tree,
        "cn=leaf3,ou=b," + tree}},
  };
  for (const auto& [scope, want] : cases) {
    ldap->SearchScope = scope;
    EXPECT_TRUE(ldap->Search(tree, false, "", {}));
    EXPECT_EQ(Dns(ldap->SearchResult()), want) << scope;
  }
  ldap->SearchScope = SS_SingleLevel;
  EXPECT_TRUE(ldap->Search("ou=empty," + Env().base, false, "(objectClass=*)", {"1.1"}));
  EXPECT_EQ(ldap->SearchResult().Count(), 0);
  EXPECT_FALSE(ldap->Search("ou=missing," + Env().base, false, "", {}));
  EXPECT_EQ(ldap->ResultCode(), 32);

  // The browser's search (empty att) brings the DNs without any attribute.
  TProfileNodeData browse;
  browse.basedn = tree;
  browse.scope = 1;
  browse.filter = "(objectClass=*)";
  TLDAPResultList* list = SearchProfile(ldap.get(), browse);
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->Count(), 2);
  EXPECT_EQ(list->Items(0)->Attributes().Count(), 0);
}

TEST(LdapSlapd, FiltersFindWhatLdapsearchFinds) {
  QUORVEL_REQUIRE_SLAPD(Env());
  auto ldap = Admin();
  const char* filters[] = {
      "(objectclass=*)",
      "(uid=user0001)",
      "uid=juergen",
      "(cn=User 00*1)",
      "(cn=U*er*00*5)",
      "(cn=*012*)",
      "(mail=*@alt.quorvel.test)",
      "(createTimestamp>=20000101000000Z)",
      "(createTimestamp<=20000101000000Z)",
      "(cn~=User 0001)",
      "(cn:caseExactMatch:=User 0001)",
      "(cn:caseExactMatch:=user 0001)",
      "(ou:dn:=tree)",
      "(:dn:2.5.13.2:=a)",
      "(&(objectClass=inetOrgPerson)(|(uid=user000*)(sn=Müller)))",
      "(!(objectClass=inetOrgPerson))",
      "(&(!(uid=user*))(uid=*))",
      "(|(ou=a)(ou=b)(cn=leaf*))",
      "(cn=J\\c3\\bcrgen*)",
      "(givenName=Иван)",
      "(description=6\" pipe)",
      "(description=\\22Quoted\\22)",
      "(description=Smith\\2c John)",
      "(cn=Smith\\2a)",
      "(member=uid=user0001,ou=people,dc=quorvel,dc=test)",
      "(&(objectClass=groupOfNames)(member=*user2999*))",
      "(employeeNumber=30*)",
  };
  for (const char* filter : filters) {
    SCOPED_TRACE(filter);
    ldap->Search(Env().base, false, filter, {"1.1"});
    EXPECT_EQ(ldap->ResultCode(), 0) << ldap->ResultString();
    EXPECT_EQ(Dns(ldap->SearchResult()), LdapsearchDns(filter));
  }
  // A sanity check on the comparison itself.
  ldap->Search(Env().base, false, "(uid=user0001)", {"1.1"});
  EXPECT_EQ(ldap->SearchResult().Count(), 1);
}

TEST(LdapSlapd, AttributeSelectionAndValuesAsStored) {
  QUORVEL_REQUIRE_SLAPD(Env());
  auto ldap = Admin();
  ldap->SearchScope = SS_BaseObject;
  const std::string tuser = Env().userDn;

  ASSERT_TRUE(ldap->Search(tuser, false, "", {"cn", "mail"}));
  TLDAPResult* r = ldap->SearchResult().Items(0);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->Attributes().Count(), 2);
  EXPECT_EQ(Find(r, "mail").Count(), 2);

  ASSERT_TRUE(ldap->Search(tuser, false, "", {"*"}));
  r = ldap->SearchResult().Items(0);
  TLDAPAttribute cert = Find(r, "userCertificate;binary");
  ASSERT_TRUE(cert);
  EXPECT_TRUE(cert.IsBinary());
  EXPECT_EQ(cert.Value(0).substr(0, 2), "\x30\x82");
  EXPECT_EQ(Find(r, "jpegPhoto").Value(0).substr(0, 3), "\xFF\xD8\xFF");
  EXPECT_FALSE(Find(r, "createTimestamp"));

  ASSERT_TRUE(ldap->Search(tuser, false, "", {"+"}));
  r = ldap->SearchResult().Items(0);
  EXPECT_TRUE(Find(r, "createTimestamp"));
  EXPECT_TRUE(Find(r, "entryUUID"));
  EXPECT_FALSE(Find(r, "cn"));

  ASSERT_TRUE(ldap->Search(tuser, false, "", {"*", "+"}));
  r = ldap->SearchResult().Items(0);
  EXPECT_TRUE(Find(r, "createTimestamp"));
  EXPECT_TRUE(Find(r, "cn"));
  // The export row of the program: givenname matches givenName, " mail" matches.
  const auto row = quorvel::BuildExportRow(*r, "cn;givenname; mail");
  EXPECT_EQ(row, (std::vector<std::string>{tuser, "Test User", "Test",
                                           "[tuser@quorvel.test][test.user@quorvel.test]"}));
  // The property rows list the binary value as Base64 of its octets.
  bool seen = false;
  for (const auto& p : quorvel::BuildPropertyRows(*r)) {
    if (p.Name != "userCertificate;binary") continue;
    seen = true;
    EXPECT_EQ(p.Type, "BINARY");
    EXPECT_EQ(quorvel::DecodeBase64(p.Value), Find(r, "userCertificate;binary").Value(0));
    EXPECT_EQ(p.Size, std::to_string(Find(r, "userCertificate;binary").Value(0).size()));
  }
  EXPECT_TRUE(seen);

  // Values keep their quotes and blanks; UTF-8 names arrive as sent.
  ASSERT_TRUE(ldap->Search("cn=Smith\\, John,ou=people," + Env().base, false, "", {"description"}));
  r = ldap->SearchResult().Items(0);
  ASSERT_NE(r, nullptr);
  std::set<std::string> values;
  TLDAPAttribute d = Find(r, "description");
  for (int i = 0; i < d.Count(); ++i) values.emplace(d.Value(i));
  EXPECT_EQ(values, (std::set<std::string>{"6\" pipe", "\"Quoted\"", "Smith, John",
                                           " leading blank", "trailing blank "}));
  ldap->SearchScope = SS_WholeSubtree;
  ASSERT_TRUE(ldap->Search(Env().base, false, "(uid=ivan)", {"cn"}));
  ASSERT_EQ(ldap->SearchResult().Count(), 1);
  EXPECT_EQ(ldap->SearchResult().Items(0)->ObjectName(), "cn=Иван Петров,ou=people," + Env().base);

  // A group with 3,000 members in one attribute.
  ldap->SearchScope = SS_BaseObject;
  ASSERT_TRUE(ldap->Search("cn=big,ou=groups," + Env().base, false, "", {"member"}));
  EXPECT_EQ(Find(ldap->SearchResult().Items(0), "member").Count(), 3000);
}

TEST(LdapSlapd, SizeLimitsKeepThePartialResult) {
  QUORVEL_REQUIRE_SLAPD(Env());
  auto ldap = Admin();
  ldap->SearchSizeLimit = 4;
  EXPECT_FALSE(ldap->Search("ou=people," + Env().base, false, "(uid=user*)", {"uid"}));
  EXPECT_EQ(ldap->ResultCode(), 4);
  EXPECT_EQ(ldap->ResultString(), "Size limit Exceeded");
  EXPECT_EQ(ldap->SearchResult().Count(), 4);

  // The server's own limit for a normal user, through the program's road.
  quorvel::test::RecordingSink sink;
  TServerNodeData server;
  server.server = Env().host;
  server.port = Env().port;
  server.uid = Env().userDn;
  server.pwd = Env().userPw;
  auto session = ConnectServer(server);
  ASSERT_NE(session, nullptr);
  TProfileNodeData profile;
  profile.basedn = Env().base;
  profile.scope = 2;
  profile.filter = "(objectClass=inetOrgPerson)";
  profile.att = "uid";
  TLDAPResultList* list = SearchProfile(session.get(), profile);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->Count(), Env().sizeLimit);
  EXPECT_EQ(session->ResultCode(), 4);
  EXPECT_TRUE(sink.errors.empty());
}

TEST(LdapSlapd, ReferralsCarryTheirUrls) {
  QUORVEL_REQUIRE_SLAPD(Env());
  const std::string url = "ldap://127.0.0.1:1/ou=elsewhere,dc=other,dc=test";
  auto ldap = Admin();
  // Below the base, the referral entry comes back as a search reference.
  ldap->SearchScope = SS_SingleLevel;
  EXPECT_TRUE(ldap->Search(Env().base, false, "", {"1.1"}));
  ASSERT_EQ(ldap->Referals().size(), 1u);
  EXPECT_EQ(ldap->Referals()[0].rfind(url, 0), 0u);

  quorvel::test::RecordingSink sink;
  TServerNodeData server;
  server.server = Env().host;
  server.port = Env().port;
  auto session = ConnectServer(server);
  ASSERT_NE(session, nullptr);
  TProfileNodeData profile;
  profile.basedn = "ou=elsewhere," + Env().base;
  profile.scope = 0;
  profile.att = "cn";
  EXPECT_EQ(SearchProfile(session.get(), profile), nullptr);
  EXPECT_EQ(session->ResultCode(), 10);
  ASSERT_EQ(sink.errors.size(), 1u);
  ASSERT_EQ(session->Referals().size(), 1u);
  EXPECT_EQ(session->Referals()[0].rfind(url, 0), 0u);
  EXPECT_EQ(sink.errors[0].rfind("Error querying \"" + Env().host +
                                     "\" \r\nThe entry lies in another directory: " +
                                     session->Referals()[0] + "\r\n",
                                 0),
            0u)
      << sink.errors[0];
  EXPECT_NE(
      sink.errors[0].find("\r\n    ErrorCode: 10\r\n    ErrorDesc: " + session->ResultString()),
      std::string::npos);
}

TEST(LdapSlapd, StartTLSAndLdaps) {
  QUORVEL_REQUIRE_SLAPD(Env());
  auto tls = Open(Env().userDn, Env().userPw);
  tls->AutoTLS = true;
  ASSERT_TRUE(tls->Connect()) << tls->ResultCode() << " " << tls->Sock()->LastErrorText() << " "
                              << tls->Sock()->SSL()->LastErrorText();
  EXPECT_TRUE(tls->Sock()->SSL()->SSLEnabled());
  ASSERT_TRUE(tls->Bind());
  tls->SearchScope = SS_BaseObject;
  EXPECT_TRUE(tls->Search(Env().userDn, false, "", {"cn"}));
  EXPECT_EQ(tls->SearchResult().Count(), 1);

  quorvel::test::RecordingSink sink;
  TServerNodeData server;
  server.server = Env().host;
  server.port = Env().ldapsPort;
  server.ssl = "Y";
  server.uid = Env().adminDn;
  server.pwd = Env().adminPw;
  auto session = ConnectServer(server);
  ASSERT_NE(session, nullptr) << (sink.errors.empty() ? "" : sink.errors[0]);
  EXPECT_TRUE(session->Sock()->SSL()->SSLEnabled());
  TProfileNodeData profile;
  profile.basedn = "ou=people," + Env().base;
  profile.scope = 1;
  profile.filter = "(uid=user0*)";
  profile.att = "uid;mail";
  TLDAPResultList* list = SearchProfile(session.get(), profile);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->Count(), 999);

  // The wrong password over LDAPS is reported with the server's code and text.
  server.pwd = "wrong";
  EXPECT_EQ(ConnectServer(server), nullptr);
  ASSERT_EQ(sink.errors.size(), 1u);
  EXPECT_EQ(sink.errors[0], "Error connecting to \"" + Env().host +
                                "\" \r\n    ErrorCode: 49\r\n    ErrorDesc: Invalid credentials");

  // SSL against the clear port: the handshake fails and says why.
  server.port = Env().port;
  EXPECT_EQ(ConnectServer(server), nullptr);
  ASSERT_EQ(sink.errors.size(), 2u);
  const std::string head = "Error connecting to \"" + Env().host +
                           "\" \r\n    ErrorCode: 10091\r\n    ErrorDesc: Network subsystem is "
                           "unusable (";
  EXPECT_EQ(sink.errors[1].substr(0, head.size()), head) << sink.errors[1];
  EXPECT_GT(sink.errors[1].size(), head.size() + 2);
}
