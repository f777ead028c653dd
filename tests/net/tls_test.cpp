// The TLS layer against scripted peers on loopback: every wait ends within
// the time-out, and the server certificate is verified against a test
// certificate authority handed over through SSL_CERT_FILE.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "common/fake_server.h"
#include "common/tls_peer.h"
#include "ldap/session.h"
#include "net/blocksocket.h"
#include "net/certverify.h"

using quorvel::test::ElapsedMs;
using quorvel::test::FakeServer;
using quorvel::test::TestCertificates;
using quorvel::test::TlsPeer;

namespace {

// LDAP messages of a bind that succeeds and of one search entry (id 2).
const std::string kBindOk("\x30\x0c\x02\x01\x01\x61\x07\x0a\x01\x00\x04\x00\x04\x00", 14);
const std::string kEntry = [] {
  std::string dn = "cn=someone,dc=quorvel,dc=test";
  std::string body = std::string("\x04", 1) + char(dn.size()) + dn + std::string("\x30\x00", 2);
  std::string op = std::string("\x64", 1) + char(body.size()) + body;
  std::string msg = std::string("\x02\x01\x02", 3) + op;
  return std::string("\x30", 1) + char(msg.size()) + msg;
}();

// The SHA-256 fingerprint of a PEM file as the openssl CLI prints it.
std::string CliFingerprint(const std::string& pem) {
  std::string cmd = "openssl x509 -noout -fingerprint -sha256 -in '" + pem + "'";
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[256];
    while (fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
  }
  return quorvel::ssl::NormalizeFingerprint(out);
}

class Tls : public ::testing::Test {
 protected:
  void SetUp() override {
    certs_ = TestCertificates();
    ASSERT_FALSE(certs_.empty()) << "the test certificates could not be made";
    setenv("SSL_CERT_FILE", (certs_ + "/ca.pem").c_str(), 1);
  }
  std::string Pem(const std::string& name) const { return certs_ + "/" + name + ".pem"; }
  std::string Key(const std::string& name) const { return certs_ + "/" + name + ".key"; }
  std::string certs_;
};

// Records every certificate it is asked about and answers with `accept`.
class Recorder : public TCertificateCheck {
 public:
  explicit Recorder(bool accept) : accept_(accept) {}
  bool AcceptUnverified(const TPeerCertificate& c, std::string& refusal) override {
    ++asked;
    seen = c;
    if (!accept_) refusal = "refused: " + c.reason;
    return accept_;
  }
  int asked = 0;
  TPeerCertificate seen;

 private:
  bool accept_;
};

}  // namespace

TEST_F(Tls, HandshakeThatNeverAnswersEndsWithinTheTimeout) {
  FakeServer srv;
  srv.Expect(1).Sleep(4000);  // reads the ClientHello's first octet, then silence
  ASSERT_TRUE(srv.Start());
  TLDAPSend ldap;
  ldap.TargetPort = std::to_string(srv.Port());
  ldap.FullSSL = true;
  ldap.Timeout = 300;
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(ldap.Connect());
  EXPECT_LT(ElapsedMs(t0), 2500);
  EXPECT_EQ(ldap.Sock()->LastError(), 10060);
  EXPECT_EQ(ldap.Sock()->LastErrorText(), "Connection timed out");
}

TEST_F(Tls, RecordCutOffMidwayEndsTheSearchWithinTheTimeout) {
  // A connection that dies in the middle of a large search: half of the
  // record carrying an entry arrives, then nothing, the connection open.
  // Then the same after 40 whole records, which arrive in one burst and are
  // read together: every whole entry is kept, the cut one still times out.
  for (const int whole : {0, 40}) {
    SCOPED_TRACE(whole);
    TlsPeer peer(Pem("good"), Key("good"));
    peer.ReadMessage().Send(kBindOk).ReadMessage();
    for (int i = 0; i < whole; ++i) peer.Send(kEntry);
    peer.SendHalfRecord(kEntry).Sleep(4000);
    ASSERT_TRUE(peer.Start()) << peer.Error();
    TLDAPSend ldap;
    ldap.TargetPort = std::to_string(peer.Port());
    ldap.FullSSL = true;
    ldap.Timeout = 300;
    ASSERT_TRUE(ldap.Connect()) << ldap.Sock()->SSL()->LastErrorText();
    ASSERT_TRUE(ldap.Bind());
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(ldap.Search("dc=quorvel,dc=test", false, "(objectClass=*)", {"cn"}));
    EXPECT_LT(ElapsedMs(t0), 2500);
    EXPECT_EQ(ldap.Sock()->LastError(), 10060);
    EXPECT_EQ(ldap.SearchResult().Count(), whole);
  }
}

TEST_F(Tls, WhatEndsTheSessionBehindAnEntryEndsTheSearchAtOnce) {
  // An entry and what ends the session arrive together (and may be read in
  // one call): the entry is kept and the search ends at once with the error
  // the end calls for, not with a wait for octets the server will never send.
  struct Case {
    const char* what;
    TlsPeer& (TlsPeer::*send)(std::string);
    int32_t error;
  } cases[] = {
      {"a damaged record", &TlsPeer::SendWithDamagedRecord, 10091},
      {"close_notify, the connection left open", &TlsPeer::SendWithCloseNotify, 10054},
      {"the connection closed without close_notify", &TlsPeer::SendThenHangUp, 10054},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TlsPeer peer(Pem("good"), Key("good"));
    (peer.ReadMessage().Send(kBindOk).ReadMessage().*c.send)(kEntry).Sleep(4000);
    ASSERT_TRUE(peer.Start()) << peer.Error();
    TLDAPSend ldap;
    ldap.TargetPort = std::to_string(peer.Port());
    ldap.FullSSL = true;
    ldap.Timeout = 2000;
    ASSERT_TRUE(ldap.Connect()) << ldap.Sock()->SSL()->LastErrorText();
    ASSERT_TRUE(ldap.Bind());
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(ldap.Search("dc=quorvel,dc=test", false, "(objectClass=*)", {"cn"}));
    EXPECT_LT(ElapsedMs(t0), 1500);
    EXPECT_EQ(ldap.Sock()->LastError(), c.error);
    EXPECT_EQ(ldap.SearchResult().Count(), 1);
  }
}

TEST_F(Tls, WriteToAPeerThatReadsNothingEndsWithinTheTimeout) {
  TlsPeer peer(Pem("good"), Key("good"));
  peer.Sleep(6000);
  ASSERT_TRUE(peer.Start()) << peer.Error();
  TTCPBlockSocket s;
  s.ConnectTo("127.0.0.1", std::to_string(peer.Port()));
  s.SSL()->Timeout = 300;
  s.SslConnect();
  ASSERT_EQ(s.LastError(), 0) << s.SSL()->LastErrorText();
  const auto t0 = std::chrono::steady_clock::now();
  s.SendBytes(std::string(64 << 20, 'x'));  // far more than the socket buffers hold
  EXPECT_EQ(s.LastError(), 10060);
  EXPECT_LT(ElapsedMs(t0), 5000);
}

TEST_F(Tls, CertificatesAreVerifiedAgainstTheTrustStoreAndTheHost) {
  struct Case {
    const char* cert;
    const char* host;
    const char* reason;  // empty: verifies and connects without asking
  } cases[] = {
      {"good", "127.0.0.1", ""},
      {"good", "localhost", ""},
      {"self", "127.0.0.1", "self-signed"},
      {"other", "127.0.0.1", "issued for another host: DNS:ldap.other.invalid"},
      {"expired", "127.0.0.1", "expired on 2021-01-01 00:00:00 UTC"},
      {"self", "localhost", "self-signed; issued for another host: IP Address:127.0.0.1"},
      // Every failure is told, not the first one alone.
      {"mixed", "127.0.0.1",
       "self-signed; expired on 2021-01-01 00:00:00 UTC; issued for another host: "
       "DNS:attacker.invalid"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.cert) + " for " + c.host);
    TlsPeer peer(Pem(c.cert), Key(c.cert));
    ASSERT_TRUE(peer.Start()) << peer.Error();
    auto refuse = std::make_shared<Recorder>(false);
    TLDAPSend ldap;
    ldap.TargetHost = c.host;
    ldap.TargetPort = std::to_string(peer.Port());
    ldap.FullSSL = true;
    ldap.Timeout = 3000;
    ldap.CertificateCheck = refuse;
    const bool connected = ldap.Connect();
    const TPeerCertificate& seen = ldap.Sock()->SSL()->PeerCertificate();
    EXPECT_EQ(seen.fingerprint, CliFingerprint(Pem(c.cert)));
    if (*c.reason == 0) {
      EXPECT_TRUE(connected) << ldap.Sock()->SSL()->LastErrorText();
      EXPECT_EQ(refuse->asked, 0);
      continue;
    }
    EXPECT_FALSE(connected);
    EXPECT_EQ(ldap.Sock()->LastError(), 10091);
    EXPECT_EQ(refuse->asked, 1);
    EXPECT_EQ(refuse->seen.reason, c.reason);
    EXPECT_EQ(ldap.Sock()->SSL()->LastErrorText(), std::string("refused: ") + c.reason);
    EXPECT_EQ(seen.subject, refuse->seen.subject);
  }
}

TEST_F(Tls, AcceptedCertificateConnectsAndNoCheckRefuses) {
  {
    TlsPeer peer(Pem("self"), Key("self"));
    peer.ReadMessage().Send(kBindOk);
    ASSERT_TRUE(peer.Start()) << peer.Error();
    auto accept = std::make_shared<Recorder>(true);
    TLDAPSend ldap;
    ldap.TargetPort = std::to_string(peer.Port());
    ldap.FullSSL = true;
    ldap.CertificateCheck = accept;
    ASSERT_TRUE(ldap.Connect());
    EXPECT_TRUE(ldap.Bind());  // the session works on after the check said yes
    EXPECT_EQ(accept->seen.subject, "/O=Quorvel Test/CN=127.0.0.1");
    EXPECT_EQ(accept->seen.issuer, accept->seen.subject);
    EXPECT_TRUE(peer.Finish()) << peer.Error();
  }
  TlsPeer peer(Pem("self"), Key("self"));
  ASSERT_TRUE(peer.Start()) << peer.Error();
  TLDAPSend ldap;
  ldap.TargetPort = std::to_string(peer.Port());
  ldap.FullSSL = true;
  EXPECT_FALSE(ldap.Connect());
  EXPECT_EQ(ldap.Sock()->SSL()->LastErrorText(),
            "The server's certificate could not be verified: self-signed");
}

TEST(Fingerprints, AreAcceptedInEveryUsualSpelling) {
  const std::string canon =
      "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:"
      "67:89";
  std::string plain;
  for (char c : canon)
    if (c != ':') plain += c;
  std::string lower;
  for (char c : canon) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  struct Case {
    std::string in, out;
  } cases[] = {
      {canon, canon},
      {lower, canon},
      {plain, canon},
      {"sha256 Fingerprint=" + canon + "\n", canon},
      {"SHA256 Fingerprint=" + lower, canon},
      {canon.substr(3), ""},        // an octet short
      {plain + "00", ""},           // an octet too many
      {"G" + plain.substr(1), ""},  // not hexadecimal
      {canon.substr(0, 94) + ":", ""},
      {"AB" + canon.substr(2, 1) + ":" + canon.substr(4), ""},  // separators out of place
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(quorvel::ssl::NormalizeFingerprint(c.in), c.out) << c.in;
}
