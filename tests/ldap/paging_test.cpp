// Reading past a directory's limits: the wire pieces of paged searches and
// value ranges, and the session against a scripted directory that answers the
// way a size-capped directory does (plain searches cut at a limit, paged ones
// complete, long value lists sent in ranges) with the faults slapd won't
// produce on demand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/scripted_directory.h"
#include "hex.h"
#include "ldap/ber.h"
#include "ldap/paging.h"
#include "ldap/searchdriver.h"
#include "ldap/pagingcodec.h"
#include "ldap/valueranges.h"
#include "recording_sink.h"
#include "store/connect.h"
#include "store/rows.h"

using quorvel::test::FakeServer;
using quorvel::test::Hex;
using quorvel::test::Members;
using quorvel::test::ScriptedDirectory;
using quorvel::test::ToHex;

namespace {

const std::string kBase = "ou=people,o=x";

std::string Dn(int i) {
  return "uid=u" + std::to_string(i) + "," + kBase;
}

// n people below kBase, in order.
void People(ScriptedDirectory& dir, int n) {
  for (int i = 0; i < n; ++i) dir.Add(Dn(i), {{"cn", {"User " + std::to_string(i)}}});
}

// The program's road to the scripted directory: ConnectServer, SearchProfile.
struct ProfileRun {
  FakeServer srv;
  std::unique_ptr<TLDAPSend> session;
  TLDAPResultList* list = nullptr;
  quorvel::TSearchOutcome outcome;

  ProfileRun(ScriptedDirectory& dir, const std::string& base, int scope, const std::string& att) {
    dir.ServeOn(srv);
    EXPECT_TRUE(srv.Start());
    TServerNodeData server;
    server.server = "127.0.0.1";
    server.port = srv.Port();
    session = ConnectServer(server);
    EXPECT_NE(session, nullptr);
    if (!session) return;
    session->Timeout = 5000;
    TProfileNodeData profile;
    profile.basedn = base;
    profile.scope = scope;
    profile.filter = "(objectClass=*)";
    profile.att = att;
    list = SearchProfile(session.get(), profile, &outcome);
  }
  // Ends the connection so that the server's script completes.
  bool Finish() {
    session.reset();
    return srv.Finish();
  }
};

}  // namespace

TEST(LdapPagingCodec, ControlOctetsAndCookies) {
  // Page size 1000, no criticality (DEFAULT FALSE), cookie as given.
  EXPECT_EQ(
      ToHex(quorvel::EncodePagedResultsControl(1000, "")),
      "A0 24 30 22 04 16 " + ToHex("1.2.840.113556.1.4.319") + " 04 08 30 06 02 02 03 E8 04 00");
  const std::string ctl = quorvel::EncodePagedResultsControl(0, "ab");
  const std::string referral = EncodeObject(EncodeObject("ldap://r/", 4), 0xA3);
  const std::string other =
      EncodeObject(EncodeObject(EncodeObject("1.2.3", 4) + EncodeObject("x", 4), 0x30), 0xA0);
  const std::string critical =
      EncodeObject(EncodeObject(EncodeObject("1.2.840.113556.1.4.319", 4) + Hex("01 01 FF") +
                                    EncodeObject(Hex("30 05 02 01 00 04 00"), 4),
                                0x30),
                   0xA0);
  struct Case {
    std::string rest;
    bool found;
    std::string cookie;
    const char* what;
  } cases[] = {
      {ctl, true, "ab", "the control alone"},
      {referral + ctl, true, "ab", "after a referral"},
      {critical, true, "", "with criticality, empty cookie"},
      {EncodeObject(
           EncodeObject(EncodeObject("1.2.3", 4) + EncodeObject("x", 4), 0x30) + ctl.substr(2),
           0xA0),
       true, "ab", "after another control"},
      {other, false, "", "another control only"},
      {"", false, "", "no controls"},
      {ctl.substr(0, ctl.size() - 1), false, "", "cut short"},
      {EncodeObject(EncodeObject(EncodeObject("1.2.840.113556.1.4.319", 4), 0x30), 0xA0), false, "",
       "no value"},
      {EncodeObject(
           EncodeObject(EncodeObject("1.2.840.113556.1.4.319", 4) + EncodeObject("zz", 4), 0x30),
           0xA0),
       false, "", "value not a sequence"},
  };
  for (const auto& c : cases) {
    std::string cookie = "unchanged";
    EXPECT_EQ(quorvel::DecodePagedResultsCookie(c.rest, cookie), c.found) << c.what;
    if (c.found) {
      EXPECT_EQ(cookie, c.cookie) << c.what;
    }
  }
}

TEST(LdapPagingCodec, RangeOptions) {
  struct Case {
    const char* description;
    bool ranged;
    const char* name;
    uint64_t low, high;
    bool to_end;
  } cases[] = {
      {"member;range=0-1499", true, "member", 0, 1499, false},
      {"member;Range=1500-*", true, "member", 1500, 0, true},
      {"member;RANGE=3000-4499", true, "member", 3000, 4499, false},
      {"objectSid;binary;range=0-9", true, "objectSid;binary", 0, 9, false},
      {"member;range=0-9;x-opt", true, "member;x-opt", 0, 9, false},
      {"member", false, "", 0, 0, false},
      {"member;binary", false, "", 0, 0, false},
      {"member;range=", false, "", 0, 0, false},
      {"member;range=5-", false, "", 0, 0, false},
      {"member;range=-5", false, "", 0, 0, false},
      {"member;range=9-5", false, "", 0, 0, false},
      {"member;range=a-*", false, "", 0, 0, false},
      {"member;range=0-99999999999999999999", false, "", 0, 0, false},
      {";range=0-*", false, "", 0, 0, false},
      {"member;ranges=0-*", false, "", 0, 0, false},
  };
  for (const auto& c : cases) {
    const auto r = quorvel::ParseValueRange(c.description);
    ASSERT_EQ(r.has_value(), c.ranged) << c.description;
    if (!r) continue;
    EXPECT_EQ(r->Name, c.name) << c.description;
    EXPECT_EQ(r->Low, c.low) << c.description;
    EXPECT_EQ(r->ToEnd, c.to_end) << c.description;
    if (!c.to_end) {
      EXPECT_EQ(r->High, c.high) << c.description;
    }
  }
}

TEST(LdapPaging, CappedSearchIsReadAgainInPagesEachEntryOnce) {
  quorvel::test::RecordingSink sink;
  ScriptedDirectory dir;
  dir.SizeLimit = 1000;
  People(dir, 2500);
  std::vector<int> progress;
  FakeServer srv;
  dir.ServeOn(srv);
  ASSERT_TRUE(srv.Start());
  TLDAPSend ldap;
  ldap.TargetHost = "127.0.0.1";
  ldap.TargetPort = std::to_string(srv.Port());
  ldap.Timeout = 5000;
  ldap.OnSearchEntry = [&](int n) { progress.push_back(n); };
  ASSERT_TRUE(ldap.Connect() && ldap.Bind());
  int started = -1;
  quorvel::TPagingEvents events;
  events.Started = [&](int n) { started = n; };
  EXPECT_TRUE(quorvel::SearchAllPages(ldap, kBase, false, "(objectClass=*)", {"cn"}, events));
  EXPECT_EQ(started, 1000);
  ASSERT_EQ(ldap.SearchResult().Count(), 2500);
  for (int i = 0; i < 2500; ++i) ASSERT_EQ(ldap.SearchResult().Items(i)->ObjectName(), Dn(i));
  EXPECT_EQ(ldap.ResultCode(), 0);
  // Progress: the first attempt to 1000, then the paged search from 1 up.
  ASSERT_EQ(progress.size(), 3500u);
  EXPECT_EQ(progress[999], 1000);
  EXPECT_EQ(progress[1000], 1);
  EXPECT_EQ(progress.back(), 2500);

  const std::string plain = ldap.FullResult();  // keep the session's view alive
  (void)plain;
  ldap.Unbind();
  EXPECT_TRUE(srv.Finish()) << srv.Error();
  const auto req = dir.Requests();
  const auto raw = srv.Received();
  // bind, plain search, root DSE, three pages, unbind
  ASSERT_EQ(req.size(), 7u);
  EXPECT_TRUE(req[1].controls.empty());
  // The first search is byte for byte what Search sends.
  TLDAPSend probe;
  probe.WrapMessage("");  // id 1 was the bind
  EXPECT_EQ(ToHex(raw[1]),
            ToHex(probe.WrapMessage(EncodeObject(EncodeObject(kBase, 4) +
                                                     Hex("0A 01 02 0A 01 03 02 01 00 02 01 00 "
                                                         "01 01 00") +
                                                     Hex("87 0B") + "objectClass" +
                                                     EncodeObject(EncodeObject("cn", 4), 0x30),
                                                 0x63))));
  EXPECT_EQ(req[2].base, "");
  EXPECT_EQ(req[2].scope, 0);
  EXPECT_EQ(req[2].attributes, std::vector<std::string>{"supportedControl"});
  const std::vector<std::string> cookies = {"", "1000", "2000"};
  for (int p = 0; p < 3; ++p) {
    EXPECT_TRUE(req[3 + p].paged) << p;
    EXPECT_EQ(req[3 + p].pageSize, 1000) << p;
    EXPECT_EQ(req[3 + p].cookie, cookies[p]) << p;
    EXPECT_EQ(req[3 + p].base, kBase);
    EXPECT_EQ(req[3 + p].controls.find(Hex("01 01")), std::string::npos) << "not critical";
  }
  EXPECT_TRUE(sink.errors.empty());
}

TEST(LdapPaging, WithoutTheControlOrWhenRefusedTheCappedResultStands) {
  struct Case {
    bool listed;
    int refuse;
    const char* what;
  } cases[] = {{false, 0, "not listed"}, {true, 12, "refused with 12"}, {true, 53, "refused 53"}};
  for (const auto& c : cases) {
    quorvel::test::RecordingSink sink;
    ScriptedDirectory dir;
    dir.SizeLimit = 1000;
    dir.ListsPaging = c.listed;
    dir.RefusePagingWith = c.refuse;
    People(dir, 1200);
    ProfileRun run(dir, kBase, 2, "cn");
    ASSERT_NE(run.list, nullptr) << c.what;
    EXPECT_EQ(run.list->Count(), 1000) << c.what;
    EXPECT_EQ(run.list->Items(999)->ObjectName(), Dn(999)) << c.what;
    EXPECT_EQ(run.outcome.Code, 4) << c.what;
    EXPECT_EQ(run.outcome.Text, "Size limit Exceeded") << c.what;
    EXPECT_TRUE(sink.errors.empty()) << c.what;
    if (c.listed) {
      // Told that paging started, then that the server refused it.
      ASSERT_EQ(sink.notices.size(), 2u) << c.what;
      EXPECT_NE(sink.notices[0].find("size limit"), std::string::npos);
      EXPECT_NE(sink.notices[1].find("ErrorCode: " + std::to_string(c.refuse)), std::string::npos);
    } else {
      EXPECT_TRUE(sink.notices.empty()) << c.what;
    }
    EXPECT_TRUE(run.Finish()) << c.what;
  }
}

TEST(LdapPaging, APageFailingHalfWayFailsTheSearch) {
  for (int code : {51, 0}) {  // a server error, then a dropped connection
    quorvel::test::RecordingSink sink;
    ScriptedDirectory dir;
    dir.SizeLimit = 1000;
    dir.FailPage = 1;
    dir.FailPageWith = code;
    People(dir, 2500);
    ProfileRun run(dir, kBase, 2, "cn");
    EXPECT_EQ(run.list, nullptr) << code;
    ASSERT_EQ(sink.errors.size(), 1u) << code;
    EXPECT_NE(sink.errors[0].find("while reading the entries in pages (1500 received)"),
              std::string::npos)
        << sink.errors[0];
    if (code) {
      EXPECT_NE(sink.errors[0].find("ErrorCode: 51"), std::string::npos);
    }
    run.Finish();
  }
}

TEST(LdapRanges, LongValueListsAreCompletedInOrder) {
  quorvel::test::RecordingSink sink;
  ScriptedDirectory dir;
  dir.MaxValues = 1500;
  dir.RangeOption = "Range";  // the option name in any letter case
  const auto big = Members(3200), exact = Members(1500);
  dir.Add("cn=big," + kBase, {{"cn", {"big"}}, {"member", big}});
  dir.Add("cn=exact," + kBase, {{"cn", {"exact"}}, {"member", exact}});
  dir.Add("cn=small," + kBase, {{"cn", {"small"}}, {"member", {"uid=a,o=x", "uid=b,o=x"}}});
  ProfileRun run(dir, kBase, 2, "cn;member");
  ASSERT_NE(run.list, nullptr);
  ASSERT_EQ(run.list->Count(), 3);
  auto cell = [](const std::vector<std::string>& values) {
    std::string s;
    for (const auto& v : values) s += "[" + v + "]";
    return s;
  };
  EXPECT_EQ(quorvel::BuildExportRow(*run.list->Items(0), "cn;member")[2], cell(big));
  EXPECT_EQ(quorvel::BuildExportRow(*run.list->Items(1), "cn;member")[2], cell(exact));
  EXPECT_EQ(quorvel::BuildExportRow(*run.list->Items(2), "cn;member")[2], "[uid=a,o=x][uid=b,o=x]");
  EXPECT_EQ(run.outcome.Code, 0);
  EXPECT_TRUE(sink.errors.empty());
  EXPECT_TRUE(run.Finish());
  // The search, then two follow-ups for the big group only, base scope.
  const auto req = dir.Requests();
  ASSERT_EQ(req.size(), 4u);
  EXPECT_TRUE(req[1].controls.empty());
  for (int k = 0; k < 2; ++k) {
    EXPECT_EQ(req[2 + k].base, "cn=big," + kBase);
    EXPECT_EQ(req[2 + k].scope, 0);
    EXPECT_TRUE(req[2 + k].controls.empty());
  }
  EXPECT_EQ(req[2].attributes, std::vector<std::string>{"member;range=1500-*"});
  EXPECT_EQ(req[3].attributes, std::vector<std::string>{"member;range=3000-*"});
}

TEST(LdapRanges, PropertiesListEveryValueUnderTheAttributesName) {
  quorvel::test::RecordingSink sink;
  ScriptedDirectory dir;
  dir.MaxValues = 1000;
  const auto big = Members(2001);
  dir.Add("cn=big," + kBase, {{"member", big}, {"cn", {"big"}}});
  ProfileRun run(dir, "cn=big," + kBase, 0, "*;+");
  ASSERT_NE(run.list, nullptr);
  const auto rows = quorvel::BuildPropertyRows(*run.list->Items(0));
  ASSERT_EQ(rows.size(), 2002u);
  for (std::size_t i = 0; i < big.size(); ++i) {
    ASSERT_EQ(rows[i].Name, "member") << i;
    ASSERT_EQ(rows[i].Value, big[i]) << i;
  }
  EXPECT_EQ(rows[2001].Name, "cn");
  EXPECT_TRUE(run.Finish());
}

TEST(LdapRanges, AFailedFollowUpFailsTheSearchNamingEntryAndAttribute) {
  for (int code : {1, 0}) {  // an error result, then a dropped connection
    quorvel::test::RecordingSink sink;
    ScriptedDirectory dir;
    dir.MaxValues = 1500;
    dir.FailRangeRequest = 1;  // the second follow-up
    dir.FailRangeWith = code;
    dir.Add("cn=big," + kBase, {{"member", Members(4000)}});
    ProfileRun run(dir, kBase, 2, "member");
    EXPECT_EQ(run.list, nullptr) << code;
    ASSERT_EQ(sink.errors.size(), 1u);
    EXPECT_NE(sink.errors[0].find("the values of attribute \"member\" of entry \"cn=big," + kBase +
                                  "\" could not be read in full"),
              std::string::npos)
        << sink.errors[0];
    if (code) {
      EXPECT_NE(sink.errors[0].find("ErrorCode: 1"), std::string::npos) << sink.errors[0];
    }
    run.Finish();
  }
}

TEST(LdapRanges, PagedEntriesGetTheirRangesToo) {
  quorvel::test::RecordingSink sink;
  ScriptedDirectory dir;
  dir.SizeLimit = 2;
  dir.MaxValues = 10;
  for (int g = 0; g < 3; ++g)
    dir.Add("cn=g" + std::to_string(g) + "," + kBase, {{"member", Members(25)}});
  ProfileRun run(dir, kBase, 2, "member");
  ASSERT_NE(run.list, nullptr);
  ASSERT_EQ(run.list->Count(), 3);
  for (int g = 0; g < 3; ++g) {
    const TLDAPAttribute a = quorvel::FindRequestedAttribute(*run.list->Items(g), "member");
    ASSERT_TRUE(a);
    EXPECT_EQ(a.Count(), 25);
    EXPECT_EQ(a.Value(24), Members(25)[24]);
  }
  ASSERT_EQ(sink.notices.size(), 1u);
  EXPECT_EQ(sink.notices[0],
            "The size limit of \"127.0.0.1\" was reached after 2 entries; the rest is read in "
            "pages of 1000 entries...");
  EXPECT_TRUE(run.Finish());
}
