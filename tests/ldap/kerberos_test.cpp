// Directories that require signing, against the private realm and slapd of
// tests/common/kerberos-harness.sh: a simple bind in clear is refused with
// advice, StartTLS with a simple bind works, Kerberos works in clear (sealed:
// a recording proxy sees no search text) and inside SSL/TLS, and Kerberos
// failures say what to do.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "common/fake_server.h"
#include "common/meddling_proxy.h"
#include "common/recording_proxy.h"
#include "common/slapd_env.h"
#include "ldap/ber.h"
#include "ldap/searchdriver.h"
#include "ldap/session.h"
#include "net/blocksocket.h"
#include "net/layerswitch.h"
#include "net/sasllayer.h"
#include "recording_sink.h"
#include "store/connect.h"

namespace {

struct KrbEnv {
  bool ok = false;
  std::string dir, host, base, userDn, userPw, ccache, keytab, ca, principal;
  int port = 0, ldapsPort = 0;
};

// The harness's realm and server; the Kerberos library and the TLS checks of
// this process are pointed at them once.
const KrbEnv& Env() {
  static const KrbEnv env = [] {
    KrbEnv e;
    e.dir = quorvel::test::BinaryDir() + "/kerberos-test";
    auto kv = quorvel::test::ReadEnvFile(e.dir + "/env");
    e.host = kv["QUORVEL_KRB_HOST"];
    e.port = std::atoi(kv["QUORVEL_KRB_PORT"].c_str());
    e.ldapsPort = std::atoi(kv["QUORVEL_KRB_LDAPS_PORT"].c_str());
    e.base = kv["QUORVEL_KRB_BASE"];
    e.userDn = kv["QUORVEL_KRB_USER_DN"];
    e.userPw = kv["QUORVEL_KRB_USER_PW"];
    e.ccache = kv["QUORVEL_KRB_CCACHE"];
    e.keytab = kv["QUORVEL_KRB_CLIENT_KEYTAB"];
    e.ca = kv["QUORVEL_KRB_CA"];
    e.principal = kv["QUORVEL_KRB_PRINCIPAL"];
    e.ok = !e.host.empty() && e.port > 0 && e.ldapsPort > 0;
    if (e.ok) {
      setenv("KRB5_CONFIG", kv["QUORVEL_KRB_CONFIG"].c_str(), 1);
      setenv("KRB5CCNAME", e.ccache.c_str(), 1);
      setenv("KRB5RCACHETYPE", "none", 1);
      setenv("SSL_CERT_FILE", e.ca.c_str(), 1);
    }
    return e;
  }();
  return env;
}

#define REQUIRE_REALM() ASSERT_TRUE(Env().ok) << "no " << Env().dir << "/env (kerberos fixture)"

TServerNodeData Server(const std::string& ssl, const std::string& auth) {
  TServerNodeData s;
  s.server = Env().host;
  s.port = ssl == "Y" ? Env().ldapsPort : Env().port;
  s.ssl = ssl;
  s.auth = auth;
  if (auth == "simple") {
    s.uid = Env().userDn;
    s.pwd = Env().userPw;
  }
  return s;
}

TProfileNodeData People(const std::string& filter) {
  TProfileNodeData p;
  p.basedn = "ou=people," + Env().base;
  p.scope = 2;
  p.filter = filter;
  p.att = "uid;mail";
  return p;
}

std::vector<std::string> Dns(const TLDAPResultList& list) {
  std::vector<std::string> dns;
  for (int i = 0; i < list.Count(); ++i) dns.emplace_back(list.Items(i)->ObjectName());
  return dns;
}

std::string Shell(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  pclose(p);
  return out;
}

TEST(Kerberos, SimpleBindInClearIsRefusedWithAdviceAndStartTlsReadsWhatLdapsearchReads) {
  REQUIRE_REALM();
  quorvel::test::RecordingSink sink;
  EXPECT_EQ(ConnectServer(Server("N", "simple")), nullptr);
  ASSERT_EQ(sink.errors.size(), 1u);
  EXPECT_EQ(sink.errors[0],
            "Error connecting to \"localhost\" \r\n    ErrorCode: 13\r\n    ErrorDesc: "
            "confidentiality required\r\n\"localhost\" requires a signed or encrypted connection "
            "for this sign-in: in the server's properties, set Security to StartTLS or SSL/TLS, "
            "or sign in with Kerberos.");

  auto session = ConnectServer(Server("T", "simple"));
  ASSERT_NE(session, nullptr) << sink.errors.back();
  EXPECT_TRUE(session->Sock()->SSL()->SSLEnabled());
  TLDAPResultList* list = SearchProfile(session.get(), People("(mail=person1*)"));
  ASSERT_NE(list, nullptr);
  std::vector<std::string> ours = Dns(*list);
  EXPECT_EQ(ours.size(), 10u);

  const std::string out = Shell(
      "LDAPTLS_CACERT='" + Env().ca +
      "' ldapsearch -ZZ -x -LLL -o ldif-wrap=no -H ldap://127.0.0.1:" + std::to_string(Env().port) +
      " -D '" + Env().userDn + "' -w '" + Env().userPw + "' -b 'ou=people," + Env().base +
      "' '(mail=person1*)' 1.1 2>&1");
  std::vector<std::string> theirs;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("dn: ", 0) == 0) theirs.push_back(line.substr(4));
  EXPECT_EQ(ours, theirs) << out;
}

TEST(Kerberos, InClearEveryMessageAfterTheSignInIsSealed) {
  REQUIRE_REALM();
  quorvel::test::RecordingProxy proxy("127.0.0.1", Env().port);
  ASSERT_TRUE(proxy.Start());
  quorvel::test::RecordingSink sink;
  TServerNodeData server = Server("N", "kerberos");
  server.port = proxy.Port();
  {
    auto session = ConnectServer(server);
    ASSERT_NE(session, nullptr) << sink.errors.back();
    EXPECT_TRUE(session->Sock()->HasSecurityLayer());
    TLDAPResultList* list = SearchProfile(session.get(), People("(mail=person07@quorvel.test)"));
    ASSERT_NE(list, nullptr) << (sink.errors.empty() ? "" : sink.errors.back());
    ASSERT_EQ(list->Count(), 1);
    EXPECT_EQ(list->Items(0)->ObjectName(), "uid=person07,ou=people," + Env().base);
    // A second search on the same layer, then the (sealed) unbind.
    list = SearchProfile(session.get(), People("(uid=person3*)"));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->Count(), 10);
    session->Unbind();
  }
  proxy.Stop();
  const std::string sent = proxy.FromClient(), got = proxy.FromServer();
  EXPECT_NE(sent.find("GSSAPI"), std::string::npos);  // the sign-in itself
  for (const char* clear : {"person07@quorvel.test", "ou=people", "person3", "uid"})
    EXPECT_EQ(sent.find(clear), std::string::npos) << clear;
  for (const char* clear : {"person07", "ou=people", "quorvel.test"})
    EXPECT_EQ(got.find(clear), std::string::npos) << clear;
}

TEST(Kerberos, InsideSslTlsAndStartTlsNoLayerIsNegotiated) {
  REQUIRE_REALM();
  quorvel::test::RecordingSink sink;
  for (const char* ssl : {"Y", "T"}) {
    auto session = ConnectServer(Server(ssl, "kerberos"));
    ASSERT_NE(session, nullptr) << ssl << ": " << sink.errors.back();
    EXPECT_TRUE(session->Sock()->SSL()->SSLEnabled());
    EXPECT_FALSE(session->Sock()->HasSecurityLayer());
    TLDAPResultList* list = SearchProfile(session.get(), People("(uid=person2*)"));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->Count(), 10) << ssl;
  }
}

TEST(Kerberos, FailuresSayWhatToDo) {
  REQUIRE_REALM();
  quorvel::test::RecordingSink sink;
  // No ticket: the Kerberos library's words and kinit.
  setenv("KRB5CCNAME", ("FILE:" + Env().dir + "/no-such-ccache").c_str(), 1);
  EXPECT_EQ(ConnectServer(Server("N", "kerberos")), nullptr);
  setenv("KRB5CCNAME", Env().ccache.c_str(), 1);
  ASSERT_EQ(sink.errors.size(), 1u);
  EXPECT_NE(sink.errors[0].find("ErrorDesc: No Kerberos credentials available"), std::string::npos)
      << sink.errors[0];
  EXPECT_NE(sink.errors[0].find("\r\nYou have no Kerberos ticket: get one with kinit"),
            std::string::npos)
      << sink.errors[0];

  // A host the realm has no service for: the principal asked for is named.
  TServerNodeData byAddress = Server("N", "kerberos");
  byAddress.server = "127.0.0.1";
  EXPECT_EQ(ConnectServer(byAddress), nullptr);
  ASSERT_EQ(sink.errors.size(), 2u);
  EXPECT_NE(sink.errors[1].find("not found in Kerberos database"), std::string::npos)
      << sink.errors[1];
  EXPECT_NE(sink.errors[1].find("the server's is ldap/127.0.0.1"), std::string::npos)
      << sink.errors[1];

  // Without the SASL library only Kerberos servers fail, naming the packages.
  quorvel::sasl::ForceMissing(true);
  EXPECT_EQ(ConnectServer(Server("N", "kerberos")), nullptr);
  auto simple = ConnectServer(Server("T", "simple"));
  quorvel::sasl::ForceMissing(false);
  EXPECT_NE(simple, nullptr);
  ASSERT_EQ(sink.errors.size(), 3u);
  EXPECT_EQ(sink.errors[2],
            "Error connecting to \"localhost\" \r\n    ErrorCode: -1\r\n    ErrorDesc: " +
                std::string(quorvel::sasl::kNoLibraryText));
}

TEST(Kerberos, AnExpiredTicketAsksForANewOne) {
  REQUIRE_REALM();
  const std::string cache = "FILE:" + Env().dir + "/short-ccache";
  const std::string out = Shell("KRB5CCNAME='" + cache + "' kinit -l 2s -k -t '" + Env().keytab +
                                "' " + Env().principal + " 2>&1");
  ASSERT_EQ(out, "");
  std::system("sleep 3");
  quorvel::test::RecordingSink sink;
  setenv("KRB5CCNAME", cache.c_str(), 1);
  EXPECT_EQ(ConnectServer(Server("N", "kerberos")), nullptr);
  setenv("KRB5CCNAME", Env().ccache.c_str(), 1);
  ASSERT_EQ(sink.errors.size(), 1u);
  EXPECT_NE(sink.errors[0].find("\r\nYour Kerberos ticket has expired: get a new one with kinit"),
            std::string::npos)
      << sink.errors[0];
}

// The length of the BER item whose length octets start at pos (moved past
// them); -1 when they run past the end.
long ItemLength(const std::string& s, std::size_t& pos) {
  if (pos >= s.size()) return -1;
  const auto first = static_cast<unsigned char>(s[pos++]);
  if (first < 0x80) return first;
  long len = 0;
  for (int k = 0; k < (first & 0x7F); ++k) {
    if (pos >= s.size()) return -1;
    len = (len << 8) | static_cast<unsigned char>(s[pos++]);
  }
  return len;
}

// The message id of a successful BindResponse in a piece of clear LDAP the
// server sent, or 0 when there is none.
int SuccessfulBindId(const std::string& piece) {
  std::size_t pos = 0;
  while (pos < piece.size() && static_cast<unsigned char>(piece[pos]) == 0x30) {
    ++pos;
    const long len = ItemLength(piece, pos);
    if (len < 0 || pos + static_cast<std::size_t>(len) > piece.size()) return 0;
    const std::string msg = piece.substr(pos, static_cast<std::size_t>(len));
    pos += static_cast<std::size_t>(len);
    // 02 01 id 61 <len> 0A 01 code ...
    if (msg.size() < 8 || msg[0] != 0x02 || msg[1] != 0x01 ||
        static_cast<unsigned char>(msg[3]) != 0x61)
      continue;
    std::size_t op = 4;
    if (ItemLength(msg, op) < 0 || op + 3 > msg.size()) continue;
    if (msg[op] == 0x0A && msg[op + 1] == 0x01 && msg[op + 2] == 0x00)
      return static_cast<unsigned char>(msg[2]);
  }
  return 0;
}

// A forged answer to the request with this id: one entry, then success.
std::string ForgedAnswer(int id) {
  const std::string attr = EncodeObject(
      EncodeObject("uid", 0x04) + EncodeObject(EncodeObject("forged", 0x04), 0x31), 0x30);
  const std::string entry = EncodeObject(
      EncodeObject("uid=forged,ou=people," + Env().base, 0x04) + EncodeObject(attr, 0x30), 0x64);
  const std::string done = EncodeObject(
      EncodeObject(EncodeInteger(0), 0x0A) + EncodeObject("", 0x04) + EncodeObject("", 0x04), 0x65);
  return EncodeObject(EncodeObject(EncodeInteger(id), 0x02) + entry, 0x30) +
         EncodeObject(EncodeObject(EncodeInteger(id), 0x02) + done, 0x30);
}

// A man in the middle answers the sealed search in clear, with the next
// message id read from the clear sign-in: in the segment of the last bind
// response (before the layer is on) the connection fails with the text for
// unprotected data; later (the layer on) the forged frame fails its check.
// Either way nothing forged is used.
TEST(Kerberos, ClearAnswersForgedAfterTheSignInAreNeverUsed) {
  REQUIRE_REALM();
  for (const bool sameSegment : {true, false}) {
    SCOPED_TRACE(sameSegment ? "same segment" : "after the layer is on");
    quorvel::test::MeddlingProxy proxy("127.0.0.1", Env().port);
    proxy.OnServer = [&](std::string& piece) {
      if (const int id = SuccessfulBindId(piece)) {
        if (sameSegment)
          piece += ForgedAnswer(id + 1);
        else
          proxy.InjectLater(ForgedAnswer(id + 1), 200);
      }
    };
    ASSERT_TRUE(proxy.Start());
    quorvel::test::RecordingSink sink;
    TServerNodeData server = Server("N", "kerberos");
    server.port = proxy.Port();
    auto session = ConnectServer(server);
    if (sameSegment) {
      EXPECT_EQ(session, nullptr);
      ASSERT_EQ(sink.errors.size(), 1u);
      EXPECT_EQ(sink.errors[0],
                "Error connecting to \"localhost\" \r\n    ErrorCode: -1\r\n    "
                "ErrorDesc: " +
                    std::string(quorvel::net::kUnprotectedText));
      continue;
    }
    ASSERT_NE(session, nullptr) << sink.errors.back();
    quorvel::TSearchOutcome outcome;
    EXPECT_EQ(SearchProfile(session.get(), People("(uid=person07)"), &outcome), nullptr);
    EXPECT_EQ(outcome.SocketError, 10091);
    EXPECT_EQ(session->SearchResult().Count(), 0);
  }
}

// The server's sealed answer reaches the client one octet at a time: the
// time-out ends the search from the frame's first octet, and a Stop is seen
// at once, although octets keep coming.
TEST(Kerberos, ASealedAnswerTrickledTimesOutAndStopsAtOnce) {
  REQUIRE_REALM();
  for (const bool cancel : {false, true}) {
    SCOPED_TRACE(cancel ? "cancel" : "time-out");
    quorvel::test::MeddlingProxy proxy("127.0.0.1", Env().port);
    bool bound = false;
    proxy.OnServer = [&](std::string& piece) {
      if (bound) proxy.TrickleMs = 40;
      if (SuccessfulBindId(piece)) bound = true;
    };
    ASSERT_TRUE(proxy.Start());
    quorvel::test::RecordingSink sink;
    TServerNodeData server = Server("N", "kerberos");
    server.port = proxy.Port();
    std::atomic<bool> stop{false};
    auto session = ConnectServer(server, {}, &stop);
    ASSERT_NE(session, nullptr) << sink.errors.back();
    ASSERT_TRUE(session->Sock()->HasSecurityLayer());
    session->Timeout = cancel ? 20000 : 1500;
    std::thread user;
    if (cancel) {
      user = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        stop = true;
      });
    }
    const auto t0 = std::chrono::steady_clock::now();
    quorvel::TSearchOutcome outcome;
    EXPECT_EQ(SearchProfile(session.get(), People("(uid=person1*)"), &outcome), nullptr);
    const long long ms = quorvel::test::ElapsedMs(t0);
    if (user.joinable()) user.join();
    if (cancel)
      EXPECT_EQ(outcome.Failure, quorvel::sfCancelled);
    else
      EXPECT_EQ(outcome.SocketError, 10060);
    // Each sealed message takes several seconds to trickle; the margins
    // allow for a busy machine.
    EXPECT_GE(ms, cancel ? 600 : 1400);
    EXPECT_LT(ms, 5000);
  }
}

// A scheduled report: quorvel-report, with no ticket cached, gets its ticket
// from a client keytab; the refused password sign-in exits 2 with the advice;
// --list shows each server's security and sign-in.
TEST(Kerberos, ReportRunnerSignsInFromAClientKeytab) {
  REQUIRE_REALM();
  const std::string work = Env().dir + "/report";
  Shell("rm -rf '" + work + "' && mkdir -p '" + work + "'");
  const std::string catalogue = work + "/catalogue.db";
  const std::string port = std::to_string(Env().port);
  const std::string sql =
      "INSERT INTO servers (name,server,port,ssl,uid,pwd,basedn,auth) VALUES "
      "('Domain','localhost'," +
      port + ",'N','','','" + Env().base +
      "','kerberos'),"
      "('Password','localhost'," +
      port + ",'N','" + Env().userDn + "','" + Env().userPw + "','" + Env().base +
      "','simple'),"
      "('Upgraded','localhost'," +
      port + ",'T','" + Env().userDn + "','" + Env().userPw + "','" + Env().base +
      "','simple');"
      "INSERT INTO profiles (name,serverid,basedn,scope,att,filter) VALUES "
      "('people',1,'ou=people," +
      Env().base +
      "',2,'uid','(uid=person0*)'),"
      "('refused',2,'" +
      Env().base +
      "',2,'uid','(uid=*)'),"
      "('upgraded',3,'ou=people," +
      Env().base + "',2,'uid','(uid=person1*)');";
  ASSERT_EQ(std::system(("cp '" + quorvel::test::BinaryDir() + "/lib/quorvel.db' '" + catalogue +
                         "' && sqlite3 '" + catalogue + "' \"" + sql + "\"")
                            .c_str()),
            0);
  const std::string report =
      "'" + quorvel::test::BinaryDir() + "/quorvel-report' --catalogue '" + catalogue + "' ";
  const std::string scheduled = "KRB5CCNAME='FILE:" + work + "/cron-ccache' KRB5_CLIENT_KTNAME='" +
                                Env().keytab + "' timeout 60 ";
  EXPECT_EQ(Shell(report + "--list 2>&1"),
            "Domain\tpeople\tNone\tKerberos\nPassword\trefused\tNone\tBind DN and password\n"
            "Upgraded\tupgraded\tStartTLS\tBind DN and password\n");
  EXPECT_EQ(Shell(scheduled + report + "--profile people --format csv --output '" + work +
                  "/people.csv' 2>&1; echo status $?"),
            "status 0\n");
  const std::string csv = Shell("cat '" + work + "/people.csv'");
  EXPECT_NE(csv.find("uid=person09,ou=people"), std::string::npos) << csv;
  EXPECT_EQ(Shell(scheduled + report + "--profile upgraded --format csv --output '" + work +
                  "/upgraded.csv' >/dev/null 2>&1; echo status $?"),
            "status 0\n");
  EXPECT_EQ(Shell(scheduled + report + "--profile refused --format csv --output '" + work +
                  "/refused.csv' 2>&1; echo status $?"),
            "quorvel-report: error: Error connecting to \"localhost\" ErrorCode: 13 ErrorDesc: "
            "confidentiality required \"localhost\" requires a signed or encrypted connection for "
            "this sign-in: in the server's properties, set Security to StartTLS or SSL/TLS, or "
            "sign in with Kerberos.\nstatus 2\n");
}

}  // namespace
