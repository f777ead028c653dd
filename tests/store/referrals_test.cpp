// Referrals across four private slapd servers (tests/common/referral-harness.sh):
// reported, or followed with the same sign-in, never over a weaker
// connection; the rows compared with what ldapsearch finds at each place.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/recording_proxy.h"
#include "common/slapd_env.h"
#include "ldap/ldapurl.h"
#include "ldap/searchdriver.h"
#include "store/connect.h"
#include "store/messages.h"
#include "store/referrals.h"

using namespace quorvel;

namespace {

// The table of URLs a server may send, and what is read of them.
TEST(LdapUrl, ReadsWhatServersSend) {
  struct Case {
    const char* text;
    bool ok;
    bool secure;
    const char* host;
    int port;
    const char* dn;
    int scope;  // -1: not given
    const char* filter;
  };
  const Case cases[] = {
      {"ldap://127.0.0.1:1389/ou=a,dc=x??sub", true, false, "127.0.0.1", 1389, "ou=a,dc=x", 2, ""},
      {"ldap://h/ou=a,dc=x??base", true, false, "h", 389, "ou=a,dc=x", 0, ""},
      {"LDAPS://h/dc=x?cn,mail?one?(cn=a%20b)", true, true, "h", 636, "dc=x", 1, "(cn=a b)"},
      {"ldap://[::1]:636/dc=x", true, false, "::1", 636, "dc=x", -1, ""},
      {"ldap:///dc=x", true, false, "", 389, "dc=x", -1, ""},
      {"ldap://h", true, false, "h", 389, "", -1, ""},
      {"ldap://h/ou=%2C%3f,dc=x", true, false, "h", 389, "ou=,?,dc=x", -1, ""},
      {"ldap://h/dc=x???"
       "?!e-bindname=x",
       false, false, "", 0, "", -1, ""},
      {"ldap://h/dc=x????e-bindname=x", true, false, "h", 389, "dc=x", -1, ""},
      {"http://h/dc=x", false, false, "", 0, "", -1, ""},
      {"ldap://h:0/dc=x", false, false, "", 0, "", -1, ""},
      {"ldap://h:65536/", false, false, "", 0, "", -1, ""},
      {"ldap://h:12a/", false, false, "", 0, "", -1, ""},
      {"ldap://h/dc=x%2", false, false, "", 0, "", -1, ""},
      {"ldap://h/dc=x%zz", false, false, "", 0, "", -1, ""},
      {"ldap://h/dc=x??subtree", false, false, "", 0, "", -1, ""},
      {"ldap://[::1/dc=x", false, false, "", 0, "", -1, ""},
  };
  for (const Case& c : cases) {
    const auto url = ParseLdapUrl(c.text);
    ASSERT_EQ(url.has_value(), c.ok) << c.text;
    if (!url) continue;
    EXPECT_EQ(url->Secure, c.secure) << c.text;
    EXPECT_EQ(url->Host, c.host) << c.text;
    EXPECT_EQ(url->Port, c.port) << c.text;
    EXPECT_EQ(url->Dn, c.dn) << c.text;
    EXPECT_EQ(url->Scope ? static_cast<int>(*url->Scope) : -1, c.scope) << c.text;
    EXPECT_EQ(url->Filter, c.filter) << c.text;
  }
}

// What LogError and friends said, in order.
class Recorder : public TMessageSink {
 public:
  void Error(const std::string& t) override { errors.push_back(t); }
  void Info(const std::string&) override {}
  bool Ask(const std::string&) override { return true; }
  std::vector<std::string> errors;
};

struct RefEnv {
  std::map<std::string, std::string> v;
  int Port(const std::string& name) const {
    auto it = v.find(name);
    return it == v.end() ? 0 : std::stoi(it->second);
  }
  std::string Base() const { return v.at("REF_BASE"); }
};

const RefEnv& Env() {
  static const RefEnv env{test::ReadEnvFile(test::BinaryDir() + "/referral-test/env")};
  return env;
}

std::string Q(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// The DNs ldapsearch finds at one place (references are not followed).
std::vector<std::string> Ldapsearch(int port, const std::string& base, const char* scope = "sub") {
  const std::string cmd =
      "ldapsearch -x -LLL -o ldif-wrap=no -H ldap://127.0.0.1:" + std::to_string(port) + " -D " +
      Q(Env().v.at("REF_ADMIN_DN")) + " -w " + Q(Env().v.at("REF_ADMIN_PW")) + " -s " + scope +
      " -b " + Q(base) + " '(objectClass=*)' 1.1 2>/dev/null";
  std::vector<std::string> dns;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return dns;
  char line[4096];
  while (fgets(line, sizeof line, p)) {
    std::string s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    if (s.rfind("dn: ", 0) == 0) dns.push_back(s.substr(4));
  }
  pclose(p);
  return dns;
}

class Referrals : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GT(Env().Port("REF_A_PORT"), 0) << "the referral servers are not running";
    previous_ = SetMessageSink(&log_);
  }
  void TearDown() override { SetMessageSink(previous_); }

  // The administrator of server a, clear or over LDAPS.
  TServerNodeData ServerA(const std::string& referrals, const std::string& ssl = "N") {
    TServerNodeData s;
    s.id = 7;
    s.server = "127.0.0.1";
    s.port = Env().Port(ssl == "Y" ? "REF_A_LDAPS" : "REF_A_PORT");
    s.ssl = ssl;
    s.uid = Env().v.at("REF_ADMIN_DN");
    s.pwd = Env().v.at("REF_ADMIN_PW");
    s.referrals = referrals;
    return s;
  }
  // Runs a search of every object below base; the DNs found, in order.
  std::vector<std::string> Run(const TServerNodeData& server, const std::string& base,
                               int scope = 2) {
    outcome = TSearchOutcome();
    std::unique_ptr<TLDAPSend> ldap = ConnectServer(server);
    if (!ldap) return {"(no connection)"};
    TProfileNodeData profile;
    profile.basedn = base;
    profile.scope = scope;
    profile.filter = "(objectClass=*)";
    profile.att = "cn";
    const TReferralFollowing follow{server, {}};
    TLDAPResultList* list = SearchProfile(ldap.get(), profile, &outcome, &follow);
    std::vector<std::string> dns;
    if (list)
      for (int i = 0; i < list->Count(); ++i) dns.emplace_back(list->Items(i)->ObjectName());
    return dns;
  }
  std::string Dn(const std::string& rdns) const { return rdns + "," + Env().Base(); }
  static std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
  }
  static std::vector<std::string> Union(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return Sorted(all);
  }
  std::string Why(const std::string& url_part) const {
    for (const auto& miss : outcome.NotSearched)
      if (miss.Url.find(url_part) != std::string::npos) return miss.Why;
    return "(not listed)";
  }

  TSearchOutcome outcome;
  Recorder log_;
  TMessageSink* previous_ = nullptr;
};

TEST_F(Referrals, ReportedNeverSilently) {
  const std::string ok = Dn("ou=ok");
  const std::vector<std::string> dns = Run(ServerA("report"), ok);
  EXPECT_EQ(Sorted(dns), Sorted(Ldapsearch(Env().Port("REF_A_PORT"), ok)));
  ASSERT_EQ(outcome.NotSearched.size(), 3u);
  EXPECT_FALSE(outcome.Incomplete());
  EXPECT_EQ(ReferralTitleNote(outcome), " (3 referrals not followed)");
  const std::vector<std::string> lines = ReferralLines(outcome);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "The server referred to 3 other place(s) that were not searched:");
  const std::string b = "ldap://127.0.0.1:" + std::to_string(Env().Port("REF_B_PORT")) + "/";
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(lines[i].rfind("    " + b, 0), 0u) << lines[i];
  EXPECT_EQ(lines[4], kGlobalCatalogHint);

  // A base that lies in another directory: a failure that names where.
  log_.errors.clear();
  EXPECT_TRUE(Run(ServerA("report"), Dn("ou=remote,ou=ok")).empty());
  EXPECT_EQ(outcome.Code, 10);
  ASSERT_EQ(log_.errors.size(), 1u);
  EXPECT_NE(log_.errors[0].find("The entry lies in another directory: " + b + "ou=remote,ou=ok,"),
            std::string::npos)
      << log_.errors[0];
  EXPECT_NE(log_.errors[0].find("Global Catalog (port 3268, or 3269 with SSL/TLS)"),
            std::string::npos);
}

TEST_F(Referrals, ManyAreListedTwentyThenCounted) {
  TSearchOutcome many;
  for (int i = 0; i < 23; ++i) many.NotSearched.push_back({"ldap://h/ou=" + std::to_string(i), ""});
  const std::vector<std::string> lines = ReferralLines(many);
  ASSERT_EQ(lines.size(), 23u);  // heading, 20 URLs, the rest, the hint
  EXPECT_EQ(lines[20], "    ldap://h/ou=19");
  EXPECT_EQ(lines[21], "    ... and 3 more");
}

// A subtree held on another server, a chain of two, and a loop back to the
// start: every place once, every entry once, the same rows ldapsearch finds
// at each place.
TEST_F(Referrals, FollowedOncePerPlace) {
  const int a = Env().Port("REF_A_PORT"), b = Env().Port("REF_B_PORT");
  const int c = Env().Port("REF_C_PORT");
  const std::vector<std::string> dns = Run(ServerA("follow"), Dn("ou=ok"));
  EXPECT_EQ(Sorted(dns),
            Union({Ldapsearch(a, Dn("ou=ok")), Ldapsearch(b, Dn("ou=remote,ou=ok")),
                   Ldapsearch(b, Dn("ou=chain,ou=ok")), Ldapsearch(c, Dn("ou=next,ou=chain,ou=ok")),
                   Ldapsearch(b, Dn("ou=loop,ou=ok"))}));
  EXPECT_EQ(std::set<std::string>(dns.begin(), dns.end()).size(), dns.size());
  EXPECT_TRUE(outcome.NotSearched.empty());
  EXPECT_EQ(outcome.PlacesSearched, 4);
  EXPECT_EQ(outcome.Received, static_cast<int>(dns.size()));
  // The server's own entries come first.
  EXPECT_EQ(dns.front(), Dn("ou=ok"));

  // One level: each reference names the child itself, searched at base scope.
  EXPECT_EQ(Sorted(Run(ServerA("follow"), Dn("ou=ok"), 1)),
            Sorted({Dn("ou=people,ou=ok"), Dn("ou=remote,ou=ok"), Dn("ou=chain,ou=ok"),
                    Dn("ou=loop,ou=ok")}));

  // A base under a referral is searched where it lies.
  EXPECT_EQ(Sorted(Run(ServerA("follow"), Dn("ou=remote,ou=ok"))),
            Sorted(Ldapsearch(b, Dn("ou=remote,ou=ok"))));
  EXPECT_EQ(outcome.Code, 0);
  EXPECT_TRUE(outcome.Delivers());
}

// A server that asks for its password: the places referred to are signed in
// to with the password the run holds; with none held nothing is sent there,
// since a bind DN without a password would sign in anonymously.
TEST_F(Referrals, ThePasswordHeldServesThePlacesReferredTo) {
  TServerNodeData server = ServerA("follow");
  server.secret = "ask";
  for (const bool held : {true, false}) {
    SCOPED_TRACE(held ? "password held" : "password wiped");
    outcome = TSearchOutcome();
    std::unique_ptr<TLDAPSend> ldap = ConnectServer(server);
    ASSERT_TRUE(ldap);
    TProfileNodeData profile;
    profile.basedn = Dn("ou=ok");
    profile.scope = 1;
    profile.filter = "(objectClass=*)";
    profile.att = "cn";
    TReferralFollowing follow{server, {}};
    if (!held) follow.server.pwd.clear();
    ASSERT_TRUE(SearchProfile(ldap.get(), profile, &outcome, &follow));
    if (held) {
      EXPECT_TRUE(outcome.NotSearched.empty());
      continue;
    }
    ASSERT_EQ(outcome.NotSearched.size(), 3u);
    for (const auto& miss : outcome.NotSearched)
      EXPECT_EQ(miss.Why, "no password was given for \"" + server.uid + "\", so nothing was sent");
    EXPECT_TRUE(outcome.Incomplete());
  }
}

TEST_F(Referrals, ChainsEndFiveDeep) {
  const int b = Env().Port("REF_B_PORT");
  const std::vector<std::string> dns = Run(ServerA("follow"), Dn("ou=deep"));
  std::vector<std::string> expected;
  for (int n = 1; n <= 5; ++n) {
    const std::vector<std::string> here =
        Ldapsearch(b, Dn("ou=l" + std::to_string(n) + ",ou=deep"));
    expected.insert(expected.end(), here.begin(), here.end());
  }
  ASSERT_EQ(expected.size(), 10u);  // ou=lN and cn=lN
  EXPECT_EQ(Sorted(dns), Sorted(expected));
  ASSERT_EQ(outcome.NotSearched.size(), 1u);
  EXPECT_NE(outcome.NotSearched[0].Url.find("ou=l6,ou=deep"), std::string::npos);
  EXPECT_NE(outcome.NotSearched[0].Why.find("more than 5 deep"), std::string::npos);
  EXPECT_TRUE(outcome.Incomplete());
}

// A closed port, a server without TLS, a certificate nobody trusts: each
// place is named with its reason, and the rest is searched.
TEST_F(Referrals, PlacesThatCannotBeSearched) {
  const int a = Env().Port("REF_A_PORT"), d = Env().Port("REF_D_PORT");
  // From a clear server: the server without TLS is searched in clear.
  std::vector<std::string> dns = Run(ServerA("follow"), Dn("ou=bad"));
  EXPECT_EQ(Sorted(dns),
            Union({Ldapsearch(a, Dn("ou=bad")), Ldapsearch(d, Dn("ou=clear,ou=bad"))}));
  EXPECT_TRUE(outcome.Delivers());
  EXPECT_TRUE(outcome.Incomplete());
  EXPECT_EQ(outcome.NotSearched.size(), 2u);
  EXPECT_EQ(Why("ou=closed").rfind("could not connect: ", 0), 0u) << Why("ou=closed");
  EXPECT_NE(Why("ou=untrusted").find("certificate"), std::string::npos) << Why("ou=untrusted");
  const std::vector<std::string> lines = ReferralLines(outcome);
  ASSERT_EQ(lines.size(), 3u);  // no hint: these were to be searched
  EXPECT_EQ(lines[0],
            "The server referred to 2 other place(s) that could not be searched in full:");

  // From LDAPS: the server that refuses StartTLS is not searched at all.
  dns = Run(ServerA("follow", "Y"), Dn("ou=bad"));
  EXPECT_EQ(Sorted(dns), Sorted(Ldapsearch(a, Dn("ou=bad"))));
  EXPECT_EQ(outcome.NotSearched.size(), 3u);
  EXPECT_EQ(Why("ou=clear").rfind("it refused StartTLS", 0), 0u) << Why("ou=clear");
}

// Adds a referral object to server a for the length of a test.
class TemporaryReferral {
 public:
  TemporaryReferral(const std::string& dn, const std::string& url) : dn_(dn) {
    const std::string ldif = "dn: " + dn +
                             "\nobjectClass: referral\nobjectClass: extensibleObject\n" +
                             "ou: " + dn.substr(3, dn.find(',') - 3) + "\nref: " + url + "\n";
    ok_ = Modify("ldapadd", ldif);
  }
  ~TemporaryReferral() {
    if (ok_) Modify("ldapdelete", "", dn_);
  }
  bool Ok() const { return ok_; }

 private:
  static bool Modify(const std::string& tool, const std::string& ldif, const std::string& dn = "") {
    const std::string cmd =
        tool + " -x -M -H ldap://127.0.0.1:" + std::to_string(Env().Port("REF_A_PORT")) + " -D " +
        Q(Env().v.at("REF_ADMIN_DN")) + " -w " + Q(Env().v.at("REF_ADMIN_PW")) +
        (dn.empty() ? "" : " " + Q(dn)) + " >/dev/null 2>&1";
    FILE* p = popen(cmd.c_str(), "w");
    if (!p) return false;
    fputs(ldif.c_str(), p);
    return pclose(p) == 0;
  }
  std::string dn_;
  bool ok_ = false;
};

// What crosses the wire to a referred place, through a recording proxy: the
// password goes there only inside TLS, unless the server itself was clear.
TEST_F(Referrals, NoPasswordOverAClearConnectionThatWasNotClear) {
  const std::string pw = Env().v.at("REF_ADMIN_PW");
  struct Case {
    const char* name;
    const char* ssl;
    const char* target;  // the proxied server
    bool followed;
    bool passwordInClear;
  };
  const Case cases[] = {
      {"LDAPS server, referred server with StartTLS", "Y", "REF_B_PORT", true, false},
      {"LDAPS server, referred server refusing StartTLS", "Y", "REF_D_PORT", false, false},
      {"StartTLS server, referred server refusing StartTLS", "T", "REF_D_PORT", false, false},
      {"clear server, clear referred server", "N", "REF_D_PORT", true, true},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::RecordingProxy proxy("127.0.0.1", Env().Port(c.target));
    ASSERT_TRUE(proxy.Start());
    const std::string target =
        c.target == std::string("REF_B_PORT") ? Dn("ou=remote,ou=ok") : Dn("ou=clear,ou=bad");
    const std::string dn =
        Dn("ou=p" + std::to_string(getpid()) + "x" + std::to_string(n++) + ",ou=run");
    TemporaryReferral referral(dn,
                               "ldap://127.0.0.1:" + std::to_string(proxy.Port()) + "/" + target);
    ASSERT_TRUE(referral.Ok());
    const std::vector<std::string> dns = Run(ServerA("follow", c.ssl), dn);
    proxy.Stop();
    if (c.followed) {
      EXPECT_EQ(outcome.Code, 0);
      EXPECT_EQ(Sorted(dns), Sorted(Ldapsearch(Env().Port(c.target), target)));
    } else {
      EXPECT_EQ(outcome.Code, 10);
      EXPECT_TRUE(dns.empty());
      ASSERT_EQ(outcome.NotSearched.size(), 1u);
      EXPECT_EQ(outcome.NotSearched[0].Why.rfind("it refused StartTLS", 0), 0u)
          << outcome.NotSearched[0].Why;
    }
    EXPECT_EQ(proxy.FromClient().find(pw) != std::string::npos, c.passwordInClear);
  }
}

}  // namespace
