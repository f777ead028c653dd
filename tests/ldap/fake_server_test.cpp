// The session against a scripted server: exact requests, and the faults a real
// server won't produce (truncation, wrong ids, garbage, closing, silence, size).
#include <gtest/gtest.h>

#include <chrono>

#include "common/fake_server.h"
#include "hex.h"
#include "ldap/ber.h"
#include "ldap/searchdriver.h"
#include "ldap/session.h"
#include "net/blocksocket.h"
#include "net/layerswitch.h"
#include "net/ssllayer.h"
#include "recording_sink.h"
#include "store/connect.h"

using quorvel::test::ElapsedMs;
using quorvel::test::FakeServer;
using quorvel::test::Hex;
using quorvel::test::ToHex;

namespace {

const std::string kBindOk = Hex("30 0C 02 01 01 61 07 0A 01 00 04 00 04 00");
const std::string kEntry2 =
    Hex("30 1B 02 01 02 64 16 04 04 63 6E 3D 61 30 0E 30 0C 04 02 63 6E 31 06 04 01 61 04 01 62");
const std::string kDone2 = Hex("30 0C 02 01 02 65 07 0A 01 00 04 00 04 00");

// A server that accepts the anonymous bind and then plays `after` once the
// search request has been read.
void BindThenSearch(FakeServer& srv) {
  srv.ReadMessage().Send(kBindOk).ReadMessage();
}

void Target(TLDAPSend& ldap, const FakeServer& srv) {
  ldap.TargetHost = "127.0.0.1";
  ldap.TargetPort = std::to_string(srv.Port());
  ldap.Timeout = 5000;
}

std::string Done(int id, int code, const std::string& text, const std::string& extra = "") {
  return EncodeObject(EncodeObject(EncodeInteger(id), 2) +
                          EncodeObject(EncodeObject(EncodeInteger(code), 0x0A) +
                                           EncodeObject("", 4) + EncodeObject(text, 4) + extra,
                                       0x65),
                      0x30);
}

}  // namespace

TEST(LdapFakeServer, BindRequestsIdsAndServerTexts) {
  FakeServer srv;
  srv.ReadMessage().Send(Hex("30 0C 02 01 01 61 07 0A 01 31 04 00 04 00"));
  srv.ReadMessage().Send(Hex("30 11 02 01 02 61 0C 0A 01 31 04 00 04 05 4E 6F 21 21 21"));
  ASSERT_TRUE(srv.Start());
  TLDAPSend ldap;
  Target(ldap, srv);
  ASSERT_TRUE(ldap.Connect());
  EXPECT_FALSE(ldap.Bind());
  EXPECT_EQ(ldap.ResultCode(), 49);
  EXPECT_EQ(ldap.ResultString(), "Invalid credentials");
  ldap.UserName = "cn=x";
  ldap.Password = "pw";
  EXPECT_FALSE(ldap.Bind());
  EXPECT_EQ(ldap.ResultString(), "No!!!");
  EXPECT_EQ(ldap.FullResult(), Hex("30 11 02 01 02 61 0C 0A 01 31 04 00 04 05 4E 6F 21 21 21"));
  EXPECT_TRUE(srv.Finish()) << srv.Error();
  const auto got = srv.Received();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(ToHex(got[0]), "30 0C 02 01 01 60 07 02 01 03 04 00 80 00");
  EXPECT_EQ(got[1], Hex("30 12 02 01 02 60 0D 02 01 03 04 04") + "cn=x" + Hex("80 02") + "pw");

  // A second Connect starts again at id 1.
  FakeServer again;
  again.ReadMessage().Send(kBindOk);
  ASSERT_TRUE(again.Start());
  Target(ldap, again);
  ASSERT_TRUE(ldap.Connect());
  EXPECT_TRUE(ldap.Bind());
  EXPECT_EQ(ldap.Seq(), 1);
  EXPECT_TRUE(again.Finish());
}

TEST(LdapFakeServer, SearchRequestAndEntries) {
  FakeServer srv;
  BindThenSearch(srv);
  // A message for another id (an unsolicited notice) is ignored.
  srv.Send(
      Hex("30 1B 02 01 07 64 16 04 04 63 6E 3D 7A 30 0E 30 0C 04 02 63 6E 31 06 04 01 61 04 "
          "01 62"));
  // Octets that do not start a message are passed over one by one.
  srv.Send("\x01\x05" + kEntry2);
  srv.Send(EncodeObject(
      EncodeObject(EncodeInteger(2), 2) + EncodeObject(EncodeObject("ldap://other/o=x", 4), 0x73),
      0x30));
  srv.Send(kDone2);
  srv.ReadMessage();  // the unbind
  ASSERT_TRUE(srv.Start());
  TLDAPSend ldap;
  Target(ldap, srv);
  ASSERT_TRUE(ldap.Connect());
  ASSERT_TRUE(ldap.Bind());
  EXPECT_TRUE(ldap.Search("ou=people", false, "", {"cn", "mail"}));
  EXPECT_EQ(ldap.ResultCode(), 0);
  EXPECT_EQ(ldap.ResultString(), "Success");
  ASSERT_EQ(ldap.SearchResult().Count(), 1);
  TLDAPResult* e = ldap.SearchResult().Items(0);
  EXPECT_EQ(e->ObjectName(), "cn=a");
  EXPECT_EQ(e->Attributes().Items(0)->Value(1), "b");
  EXPECT_EQ(ldap.Referals(), std::vector<std::string>{"ldap://other/o=x"});
  EXPECT_TRUE(ldap.Unbind());
  // The last message received survives the connection's end.
  EXPECT_EQ(ldap.FullResult(), kDone2);
  EXPECT_TRUE(srv.Finish()) << srv.Error();
  const auto got = srv.Received();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(ToHex(got[1]),
            "30 38 02 01 02 63 33 04 09 6F 75 3D 70 65 6F 70 6C 65 0A 01 02 0A 01 03 02 01 00 02 "
            "01 00 01 01 00 87 0B 6F 62 6A 65 63 74 63 6C 61 73 73 30 0A 04 02 63 6E 04 04 6D 61 "
            "69 6C");
  EXPECT_EQ(ToHex(got[2]), "30 05 02 01 03 42 00");
}

TEST(LdapFakeServer, UnusableFilterAndNoAttributes) {
  FakeServer srv;
  BindThenSearch(srv);
  srv.Send(Done(2, 2, "bad filter"));
  ASSERT_TRUE(srv.Start());
  TLDAPSend ldap;
  Target(ldap, srv);
  ASSERT_TRUE(ldap.Connect());
  ASSERT_TRUE(ldap.Bind());
  ldap.SearchScope = SS_BaseObject;
  EXPECT_FALSE(ldap.Search("", false, "(=x)", {}));
  EXPECT_EQ(ldap.ResultCode(), 2);
  EXPECT_EQ(ldap.ResultString(), "bad filter");
  EXPECT_TRUE(srv.Finish());
  EXPECT_EQ(ToHex(srv.Received()[1]),
            "30 1A 02 01 02 63 15 04 00 0A 01 00 0A 01 03 02 01 00 02 01 00 01 01 00 05 00 30 00");
}

// Faults that end a search: each keeps the entries received before it, gives
// ResultCode -1 and ends well before the test's own limits.
TEST(LdapFakeServer, SearchEndsOnBrokenConnections) {
  struct Case {
    const char* name;
    std::string bytes;     // sent after the search request
    int sleep_ms;          // then silence
    bool close;            // then close
    int32_t socket_error;  // expected socket error (0: none)
    std::string text;      // expected ResultString
  } cases[] = {
      {"closed mid-search", kEntry2, 0, true, 10054, ""},
      {"truncated message", kEntry2 + kDone2.substr(0, 7), 0, true, 10054, ""},
      {"garbage, then silence", kEntry2 + "\x01garbage", 3000, true, 10060, ""},
      {"silence", kEntry2, 3000, true, 10060, ""},
      {"too large", kEntry2 + Hex("30 84 10 00 00 00 02 01 02"), 1500, true, 0,
       TLDAPSend::kResponseTooLarge},
      {"length overflow", kEntry2 + Hex("30 85 01 00 00 00 00"), 1500, true, 0,
       TLDAPSend::kResponseTooLarge},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeServer srv;
    BindThenSearch(srv);
    srv.Send(c.bytes);
    if (c.sleep_ms) srv.Sleep(c.sleep_ms);
    if (c.close) srv.Close();
    ASSERT_TRUE(srv.Start());
    TLDAPSend ldap;
    Target(ldap, srv);
    ldap.Timeout = 500;
    ASSERT_TRUE(ldap.Connect());
    ASSERT_TRUE(ldap.Bind());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(ldap.Search("o=x", false, "(cn=*)", {"cn"}));
    const long long ms = ElapsedMs(start);
    EXPECT_LT(ms, 1400);
    EXPECT_EQ(ldap.ResultCode(), -1);
    EXPECT_EQ(ldap.ResultString(), c.text);
    EXPECT_EQ(ldap.Sock()->LastError(), c.socket_error);
    EXPECT_EQ(ldap.SearchResult().Count(), 1);
    srv.Finish();
  }
}

TEST(LdapFakeServer, StartTLSRefusedAndSilentBind) {
  FakeServer srv;
  srv.ReadMessage().Send(EncodeObject(
      EncodeObject(EncodeInteger(1), 2) +
          EncodeObject(
              EncodeObject(EncodeInteger(2), 0x0A) + EncodeObject("", 4) + EncodeObject("", 4),
              0x78),
      0x30));
  srv.ReadMessage().Sleep(1500);
  ASSERT_TRUE(srv.Start());
  TLDAPSend ldap;
  Target(ldap, srv);
  ldap.AutoTLS = true;
  EXPECT_FALSE(ldap.Connect());
  EXPECT_EQ(ldap.ResultCode(), 2);
  EXPECT_EQ(ldap.ResultString(), "Protocol error");
  // The connection stays usable; a bind nobody answers gives -1 and no text.
  ldap.Timeout = 300;
  EXPECT_FALSE(ldap.Bind());
  EXPECT_EQ(ldap.ResultCode(), -1);
  EXPECT_EQ(ldap.ResultString(), "");
  EXPECT_EQ(ldap.Sock()->LastError(), 10060);
  srv.Finish();
  const auto got = srv.Received();
  ASSERT_GE(got.size(), 1u);
  EXPECT_EQ(got[0], Hex("30 1D 02 01 01 77 18 80 16") + "1.3.6.1.4.1.1466.20037");
}

// A server set to StartTLS that refuses it (as a directory without a
// certificate answers the extended request): the run stops there, sends
// nothing more in clear, and says what to do.
TEST(LdapFakeServer, RefusedStartTlsIsAConnectionErrorAndNothingFollowsInClear) {
  quorvel::test::RecordingSink sink;
  FakeServer srv;
  srv.ReadMessage().Send(
      EncodeObject(EncodeObject(EncodeInteger(1), 2) +
                       EncodeObject(EncodeObject(EncodeInteger(52), 0x0A) + EncodeObject("", 4) +
                                        EncodeObject("TLS not configured", 4),
                                    0x78),
                   0x30));
  srv.Expect(1);  // anything the client might still send
  srv.TimeLimitMs = 3000;
  ASSERT_TRUE(srv.Start());
  TServerNodeData server;
  server.server = "127.0.0.1";
  server.port = srv.Port();
  server.ssl = "T";
  server.uid = "cn=admin";
  server.pwd = "secret";
  EXPECT_EQ(ConnectServer(server), nullptr);
  EXPECT_FALSE(srv.Finish());
  const auto got = srv.Received();
  // The StartTLS request alone: no bind, no password, not an octet more.
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], Hex("30 1D 02 01 01 77 18 80 16") + "1.3.6.1.4.1.1466.20037");
  EXPECT_EQ(got[1], "");
  ASSERT_EQ(sink.errors.size(), 1u);
  EXPECT_EQ(sink.errors[0],
            "Error connecting to \"127.0.0.1\" \r\n    ErrorCode: 52\r\n    ErrorDesc: TLS not "
            "configured\r\n\"127.0.0.1\" refused StartTLS, so nothing more was sent: set "
            "Security to SSL/TLS in the server's properties if it offers that, or ask its "
            "administrator to enable StartTLS.");
}

// Octets behind the StartTLS response, in the same segment, came in clear
// where only TLS may come: the connection fails, none of them used, and the
// handshake is never tried on them.
TEST(LdapFakeServer, ClearOctetsBehindTheStartTlsResponseFailTheConnection) {
  quorvel::test::RecordingSink sink;
  FakeServer srv;
  const std::string accepted =
      EncodeObject(EncodeObject(EncodeInteger(1), 2) +
                       EncodeObject(EncodeObject(EncodeInteger(0), 0x0A) + EncodeObject("", 4) +
                                        EncodeObject("", 4),
                                    0x78),
                   0x30);
  srv.ReadMessage().Send(accepted + kBindOk).Expect(1);
  srv.TimeLimitMs = 3000;
  ASSERT_TRUE(srv.Start());
  TServerNodeData server;
  server.server = "127.0.0.1";
  server.port = srv.Port();
  server.ssl = "T";
  EXPECT_EQ(ConnectServer(server), nullptr);
  EXPECT_FALSE(srv.Finish());
  const auto got = srv.Received();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1], "");  // no ClientHello, no bind
  ASSERT_EQ(sink.errors.size(), 1u);
  EXPECT_EQ(sink.errors[0],
            "Error connecting to \"127.0.0.1\" \r\n    ErrorCode: -1\r\n    "
            "ErrorDesc: " +
                std::string(quorvel::net::kUnprotectedText));
}

TEST(LdapFakeServer, ConnectAndSearchReportTheirFailures) {
  quorvel::test::RecordingSink sink;
  {
    FakeServer srv;
    srv.ReadMessage().Send(Hex("30 0C 02 01 01 61 07 0A 01 31 04 00 04 00"));
    ASSERT_TRUE(srv.Start());
    TServerNodeData server;
    server.server = "127.0.0.1";
    server.port = srv.Port();
    server.ssl = "y";  // not exactly "Y": clear connection
    EXPECT_EQ(ConnectServer(server), nullptr);
    srv.Finish();
  }
  ASSERT_EQ(sink.errors.size(), 1u);
  EXPECT_EQ(sink.errors[0],
            "Error connecting to \"127.0.0.1\" \r\n    ErrorCode: 49\r\n    ErrorDesc: Invalid "
            "credentials");

  sink.errors.clear();
  for (int scope : {-1, 7}) {
    FakeServer srv;
    BindThenSearch(srv);
    srv.Send(kEntry2);
    srv.Send(Done(
        2, 10, "",
        EncodeObject(EncodeObject("ldap://a/o=x", 4) + EncodeObject("ldap://b/o=x", 4), 0xA3)));
    ASSERT_TRUE(srv.Start());
    TServerNodeData server;
    server.server = "127.0.0.1";
    server.port = srv.Port();
    auto session = ConnectServer(server);
    ASSERT_NE(session, nullptr);
    TProfileNodeData profile;
    profile.basedn = "o=x";
    profile.scope = scope;
    profile.filter = "(cn=*)";
    profile.att = "cn; mail";
    EXPECT_EQ(SearchProfile(session.get(), profile), nullptr);
    EXPECT_TRUE(srv.Finish());
    // The unknown scope keeps the whole subtree; names are sent trimmed.
    EXPECT_EQ(srv.Received()[1].substr(0, 20),
              Hex("30 29 02 01 02 63 24 04 03") + "o=x" + Hex("0A 01 02 0A 01 03 02 01"));
    EXPECT_NE(srv.Received()[1].find(Hex("30 0A 04 02 63 6E 04 04") + "mail"), std::string::npos);
  }
  ASSERT_EQ(sink.errors.size(), 2u);
  // The box names where the entry lies, what to do, and the Global Catalog.
  EXPECT_EQ(sink.errors[0].rfind("Error querying \"127.0.0.1\" \r\nThe entry lies in another "
                                 "directory: ldap://a/o=x ldap://b/o=x\r\nSet Referrals to ",
                                 0),
            0u)
      << sink.errors[0];
  EXPECT_NE(sink.errors[0].find("Global Catalog (port 3268, or 3269 with SSL/TLS)"),
            std::string::npos);
  EXPECT_NE(sink.errors[0].find("\r\n    ErrorCode: 10\r\n    ErrorDesc: Referal"),
            std::string::npos);

  sink.errors.clear();
  {
    FakeServer srv;
    BindThenSearch(srv);
    // After result 4 the root DSE is asked for supportedControl; this one
    // lists nothing, so the partial result stands.
    srv.Send(kEntry2).Send(Done(2, 4, "")).ReadMessage().Send(Done(3, 0, ""));
    srv.ReadMessage().Send(Done(4, 32, "no base"));
    ASSERT_TRUE(srv.Start());
    TServerNodeData server;
    server.server = "127.0.0.1";
    server.port = srv.Port();
    auto session = ConnectServer(server);
    ASSERT_NE(session, nullptr);
    TProfileNodeData profile;
    profile.att = "cn";
    quorvel::TSearchOutcome outcome;
    TLDAPResultList* list = SearchProfile(session.get(), profile, &outcome);
    ASSERT_NE(list, nullptr);  // size limit: the partial result, nothing reported
    EXPECT_EQ(list->Count(), 1);
    EXPECT_EQ(outcome.Code, 4);
    EXPECT_TRUE(sink.errors.empty());
    EXPECT_EQ(SearchProfile(session.get(), profile), nullptr);
    EXPECT_EQ(SearchProfile(nullptr, profile), nullptr);
    srv.Finish();
  }
  ASSERT_EQ(sink.errors.size(), 1u);
  EXPECT_EQ(sink.errors[0],
            "Error querying \"127.0.0.1\" \r\n    ErrorCode: 32\r\n    ErrorDesc: no base");
}

TEST(LdapFakeServer, RefusedPortAndUnknownHostNameTheSocketError) {
  quorvel::test::RecordingSink sink;
  int port = 0;
  {
    FakeServer probe;  // a port that was free a moment ago and now refuses
    ASSERT_TRUE(probe.Start());
    port = probe.Port();
  }
  TServerNodeData server;
  server.server = "127.0.0.1";
  server.port = port;
  EXPECT_EQ(ConnectServer(server), nullptr);
  server.server = "no-such-host.invalid";
  EXPECT_EQ(ConnectServer(server), nullptr);
  // SSL asked for where the SSL library is missing.
  quorvel::ForceSSLNone(true);
  {
    FakeServer srv;
    ASSERT_TRUE(srv.Start());
    server.server = "127.0.0.1";
    server.port = srv.Port();
    server.ssl = "Y";
    EXPECT_EQ(ConnectServer(server), nullptr);
  }
  quorvel::ForceSSLNone(false);
  ASSERT_EQ(sink.errors.size(), 3u);
  EXPECT_EQ(sink.errors[2],
            "Error connecting to \"127.0.0.1\" \r\n    ErrorCode: 10091\r\n    ErrorDesc: "
            "Network subsystem is unusable (SLL is not implemented!)");
  EXPECT_EQ(sink.errors[0],
            "Error connecting to \"127.0.0.1\" \r\n    ErrorCode: 10061\r\n    ErrorDesc: "
            "Connection refused");
  EXPECT_EQ(sink.errors[1],
            "Error connecting to \"no-such-host.invalid\" \r\n    ErrorCode: 11001\r\n    "
            "ErrorDesc: Host not found");
}

// A long response: entries that trickle in, a message split by a pause, and
// silence after many entries must all end as for a short response, and on time.
TEST(LdapFakeServer, LongResponsesStayWholeAndOnTime) {
  auto entry = [](int i) {
    const std::string dn = "cn=e" + std::to_string(i);
    return EncodeObject(EncodeObject(EncodeInteger(2), 2) +
                            EncodeObject(EncodeObject(dn, 4) + EncodeObject("", 0x30), 0x64),
                        0x30);
  };
  for (const bool silent : {false, true}) {
    SCOPED_TRACE(silent ? "silence after 60 entries" : "entries trickling, one split by a pause");
    FakeServer srv;
    BindThenSearch(srv);
    for (int i = 0; i < 60; ++i) {
      srv.Send(entry(i));
      if (i % 10 == 0) srv.Sleep(5);
    }
    const std::string last = entry(60);
    if (silent) {
      srv.Sleep(3000);
    } else {
      srv.Send(last.substr(0, 5)).Sleep(300).Send(last.substr(5)).Sleep(300).Send(kDone2);
    }
    srv.Close();
    ASSERT_TRUE(srv.Start());
    TLDAPSend ldap;
    Target(ldap, srv);
    ldap.Timeout = 500;
    ASSERT_TRUE(ldap.Connect());
    ASSERT_TRUE(ldap.Bind());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ldap.Search("o=x", false, "(cn=*)", {"cn"}), !silent);
    const long long ms = ElapsedMs(start);
    const TLDAPResultList& r = ldap.SearchResult();
    ASSERT_EQ(r.Count(), silent ? 60 : 61);
    for (int i = 0; i < r.Count(); ++i)
      EXPECT_EQ(r.Items(i)->ObjectName(), "cn=e" + std::to_string(i));
    if (silent) {
      EXPECT_EQ(ldap.Sock()->LastError(), 10060);
      EXPECT_LT(ms, 1400);
    } else {
      EXPECT_EQ(ldap.ResultCode(), 0);
      EXPECT_LT(ms, 1000);  // two pauses of 300 ms, nothing waited beyond them
    }
    srv.Finish();
  }
}
