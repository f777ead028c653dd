// Trust on first use end to end: ConnectServer against scripted TLS peers
// presenting the test certificates, a real catalogue file, and a prompt that
// answers from a script. The system's trust store is the test authority
// (SSL_CERT_FILE), so "good" verifies and the others do not.
#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

#include "common/tls_peer.h"
#include "ldap/recording_sink.h"
#include "sqlstore/testutil.h"
#include "store/connect.h"
#include "store/data.h"
#include "store/testcatalogue.h"
#include "store/trust.h"

using quorvel::test::kEngine;
using quorvel::test::OpenNewCatalogue;
using quorvel::test::TempDir;
using quorvel::test::TestCertificates;
using quorvel::test::TlsPeer;

namespace {

const std::string kBindOk("\x30\x0c\x02\x01\x01\x61\x07\x0a\x01\x00\x04\x00\x04\x00", 14);
const char kOldSchema[] =
    "CREATE TABLE servers (id INTEGER PRIMARY KEY AUTOINCREMENT, name VARCHAR(255), server "
    "VARCHAR(255), port INTEGER, ssl VARCHAR(1), uid VARCHAR(1024), pwd VARCHAR(255), basedn "
    "VARCHAR(1024));"
    "CREATE TABLE profiles (id INTEGER PRIMARY KEY AUTOINCREMENT, name VARCHAR(255), serverid "
    "INTEGER, basedn VARCHAR(1024), scope INTEGER, att VARCHAR(4096), filter VARCHAR(4096));";

class ScriptedPrompt : public TTrustPrompt {
 public:
  TTrustAnswer Ask(const TTrustQuestion& q) override {
    asked.push_back(q);
    if (answers.empty()) return taCancel;
    const TTrustAnswer a = answers.front();
    answers.pop_front();
    return a;
  }
  std::deque<TTrustAnswer> answers;
  std::vector<TTrustQuestion> asked;
};

// A catalogue made from an older schema (no trusted_certificates table), with
// two SSL servers.
class TrustTest : public ::testing::Test {
 protected:
  void SetUp() override {
    certs_ = TestCertificates();
    ASSERT_FALSE(certs_.empty());
    setenv("SSL_CERT_FILE", (certs_ + "/ca.pem").c_str(), 1);
    catalogue_ = dir_.Write("quorvel.db", "");
    {
      TASQLite3DB maker;
      maker.SetDriverDLL(kEngine);
      maker.SetDatabase(catalogue_);
      maker.Open();
      maker.ExecDirect(kOldSchema);
    }
    ASSERT_TRUE(InitDatabases(d_, catalogue_, dir_.Write("dump.db", ""), kEngine));
    first_ = d_.AddServer("first", "127.0.0.1", "636", "Y", "", "", "");
    second_ = d_.AddServer("second", "127.0.0.1", "636", "Y", "", "", "");
  }

  // ConnectServer for server id at host and port (0: any free one) against a
  // peer presenting cert; true when a session came back. The port used is in
  // lastPort_.
  bool Connect(int id, const std::string& cert, const std::string& host = "127.0.0.1",
               int port = 0) {
    TlsPeer peer(certs_ + "/" + cert + ".pem", certs_ + "/" + cert + ".key");
    peer.ReadMessage().Send(kBindOk);
    if (!peer.Start(port)) return false;
    lastPort_ = peer.Port();
    TServerNodeData s;
    s.id = id;
    s.server = host;
    s.port = peer.Port();
    s.ssl = "Y";
    return ConnectServer(s, {&d_, &prompt_}) != nullptr;
  }
  std::vector<std::string> Fingerprints(int id) {
    std::vector<std::string> out;
    for (const auto& c : quorvel::TrustedCertificates(d_, id)) out.push_back(c.fingerprint);
    return out;
  }

  TempDir dir_;
  Tdata d_;
  ScriptedPrompt prompt_;
  std::string certs_, catalogue_;
  int first_ = 0, second_ = 0, lastPort_ = 0;
};

}  // namespace

TEST_F(TrustTest, FirstUseAsksRemembersAndWarnsWhenTheCertificateChanges) {
  quorvel::test::RecordingSink sink;
  int trustedPort = 0;  // where "self" was trusted for the first server
  struct Step {
    const char* what;
    int server;  // 1 first, 2 second, 0 not stored
    const char* cert;
    const char* host;
    bool atTrustedPort;  // connect at the port "self" was trusted at, else a new one
    std::vector<TTrustAnswer> answers;
    bool connects;
    bool asked;
    bool changedWarning;
    size_t remembered;    // certificates remembered for the server afterwards
    const char* refusal;  // in the error of a refused connection
  } steps[] = {
      {"a verified certificate connects silently",
       1,
       "good",
       "127.0.0.1",
       false,
       {},
       true,
       false,
       false,
       0,
       ""},
      {"self-signed, cancelled",
       1,
       "self",
       "127.0.0.1",
       false,
       {taCancel},
       false,
       true,
       false,
       0,
       "is not trusted: self-signed"},
      {"self-signed, this time only",
       1,
       "self",
       "127.0.0.1",
       false,
       {taOnce},
       true,
       true,
       false,
       0,
       ""},
      {"self-signed, trusted", 1, "self", "127.0.0.1", false, {taTrust}, true, true, false, 1, ""},
      {"trusted: no question any more",
       1,
       "self",
       "127.0.0.1",
       true,
       {},
       true,
       false,
       false,
       1,
       ""},
      {"the same certificate at another port asks again",
       1,
       "self",
       "127.0.0.1",
       false,
       {taCancel},
       false,
       true,
       false,
       1,
       "is not trusted: self-signed"},
      {"the same certificate at another host asks again",
       1,
       "self",
       "localhost",
       true,
       {taCancel},
       false,
       true,
       false,
       1,
       "is not trusted: self-signed; issued for another host: IP Address:127.0.0.1"},
      {"one server's certificate lets no other through",
       2,
       "self",
       "127.0.0.1",
       true,
       {taCancel},
       false,
       true,
       false,
       0,
       "is not trusted: self-signed"},
      {"changed certificate, default answer",
       1,
       "expired",
       "127.0.0.1",
       true,
       {},
       false,
       true,
       true,
       1,
       "has changed since it was trusted"},
      {"every failure is told",
       0,
       "mixed",
       "127.0.0.1",
       false,
       {taCancel},
       false,
       true,
       false,
       0,
       "is not trusted: self-signed; expired on 2021-01-01 00:00:00 UTC; issued for another "
       "host: DNS:attacker.invalid"},
      {"a server not stored yet cannot remember",
       0,
       "other",
       "127.0.0.1",
       false,
       {taTrust},
       true,
       true,
       false,
       0,
       ""},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    const int id = s.server == 1 ? first_ : s.server == 2 ? second_ : 0;
    prompt_.asked.clear();
    prompt_.answers.assign(s.answers.begin(), s.answers.end());
    sink.errors.clear();
    EXPECT_EQ(Connect(id, s.cert, s.host, s.atTrustedPort ? trustedPort : 0), s.connects);
    ASSERT_EQ(prompt_.asked.size(), s.asked ? 1u : 0u);
    if (s.asked) {
      const TTrustQuestion& q = prompt_.asked[0];
      EXPECT_EQ(q.canRemember, id != 0);
      EXPECT_EQ(q.remembered.empty(), !s.changedWarning);
      EXPECT_FALSE(q.cert.fingerprint.empty());
      EXPECT_EQ(q.server, std::string(s.host) + ":" + std::to_string(lastPort_));
      if (s.changedWarning) {
        EXPECT_EQ(q.remembered, Fingerprints(first_).at(0));
      }
    }
    if (!s.connects) {
      ASSERT_EQ(sink.errors.size(), 1u);
      EXPECT_NE(sink.errors[0].find("ErrorCode: 10091"), std::string::npos) << sink.errors[0];
      EXPECT_NE(sink.errors[0].find(s.refusal), std::string::npos) << sink.errors[0];
    }
    if (id) {
      EXPECT_EQ(Fingerprints(id).size(), s.remembered);
    }
    if (s.answers == std::vector<TTrustAnswer>{taTrust} && id) trustedPort = lastPort_;
  }
  const auto rows = quorvel::TrustedCertificates(d_, first_);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].host, "127.0.0.1");
  EXPECT_EQ(rows[0].port, trustedPort);
}

TEST_F(TrustTest, TableMatchesTheSchemaAndGoesWithItsServer) {
  TPeerCertificate cert;
  cert.host = "127.0.0.1";
  cert.port = 636;
  cert.fingerprint = "AA:BB";
  cert.subject = "/CN=a \"quoted\" 'name'";
  ASSERT_TRUE(quorvel::TrustCertificate(d_, first_, cert));
  ASSERT_TRUE(quorvel::TrustCertificate(d_, second_, cert));
  cert.fingerprint = "CC:DD";
  ASSERT_TRUE(quorvel::TrustCertificate(d_, first_, cert));  // replaces AA:BB
  EXPECT_EQ(Fingerprints(first_), std::vector<std::string>{"CC:DD"});
  EXPECT_EQ(quorvel::TrustedCertificates(d_, first_).at(0).subject, cert.subject);
  EXPECT_FALSE(quorvel::TrustCertificate(d_, 0, cert));  // nothing to key it by
  // A catalogue that refuses the row: the old certificate stays, and the
  // failure says why.
  d_.db.ExecDirect(
      "CREATE TRIGGER refuse BEFORE INSERT ON trusted_certificates "
      "BEGIN SELECT RAISE(ABORT, 'refused by the catalogue'); END");
  std::string reason;
  cert.fingerprint = "EE:FF";
  EXPECT_FALSE(quorvel::TrustCertificate(d_, first_, cert, &reason));
  EXPECT_EQ(reason, "SQLiteExecute error: 19");  // the storage layer's words for a refused row
  EXPECT_EQ(Fingerprints(first_), std::vector<std::string>{"CC:DD"});
  {
    // "Trust and connect" still connects, and says the certificate was not remembered.
    quorvel::test::RecordingSink sink;
    prompt_.answers = {taTrust};
    quorvel::TTrustDecision decision({&d_, &prompt_}, first_);
    std::string refusal;
    EXPECT_TRUE(decision.AcceptUnverified(cert, refusal));
    ASSERT_EQ(sink.errors.size(), 1u);
    EXPECT_EQ(sink.errors[0],
              "The certificate of \"127.0.0.1:636\" could not be remembered (SQLiteExecute error: "
              "19); it "
              "is trusted for this connection only, and the question will come again.");
  }
  d_.db.ExecDirect("DROP TRIGGER refuse");

  EXPECT_TRUE(d_.DeleteServer(std::to_string(first_)));
  EXPECT_TRUE(Fingerprints(first_).empty());
  EXPECT_EQ(Fingerprints(second_), std::vector<std::string>{"AA:BB"});

  // The table made in an older catalogue is the one new catalogues get.
  auto columns = [](TASQLite3DB& db) {
    TASQLite3Query q(&db);
    q.SetSQL("PRAGMA table_info(trusted_certificates)");
    q.Open();
    std::string out;
    for (int r = 0; r < q.RecordCount(); ++r)
      out += std::string(q.CellText(r, 1)) + " " + std::string(q.CellText(r, 2)) + ";";
    return out;
  };
  TASQLite3DB fresh;
  OpenNewCatalogue(fresh, dir_.Write("fresh.db", ""));
  EXPECT_EQ(columns(fresh), columns(d_.db));
  EXPECT_NE(columns(fresh), "");
}

// What the server dialog's Test was told to trust is kept for the server only
// at the host and port it was presented at.
TEST_F(TrustTest, TestedTrustIsKeptOnlyForTheHostAndPortSaved) {
  TPeerCertificate cert;
  cert.fingerprint = "AA:BB";
  cert.host = "ldap.b.example";
  cert.port = 1636;
  std::string error;
  EXPECT_FALSE(quorvel::KeepTestedTrust(d_, first_, cert, "ldap.a.example", 1636, &error));
  EXPECT_FALSE(quorvel::KeepTestedTrust(d_, first_, cert, "ldap.b.example", 636, &error));
  EXPECT_EQ(error, "");
  EXPECT_TRUE(Fingerprints(first_).empty());
  EXPECT_TRUE(quorvel::KeepTestedTrust(d_, first_, cert, "ldap.b.example", 1636, &error));
  EXPECT_EQ(Fingerprints(first_), std::vector<std::string>{"AA:BB"});

  // A pending decision asks, keeps the answer to itself, and accepts the
  // same certificate at the same place afterwards without asking.
  quorvel::TTrustDecision pending({&d_, &prompt_}, second_);
  pending.KeepTrustPending = true;
  prompt_.asked.clear();
  prompt_.answers = {taTrust};
  std::string refusal;
  EXPECT_TRUE(pending.AcceptUnverified(cert, refusal));
  EXPECT_TRUE(pending.AcceptUnverified(cert, refusal));
  EXPECT_EQ(prompt_.asked.size(), 1u);
  EXPECT_TRUE(Fingerprints(second_).empty());
  ASSERT_TRUE(pending.Pending());
  EXPECT_EQ(pending.Pending()->fingerprint, "AA:BB");
  cert.port = 2636;  // elsewhere it asks again
  EXPECT_FALSE(pending.AcceptUnverified(cert, refusal));
  EXPECT_EQ(prompt_.asked.size(), 2u);
}

// A catalogue whose table was made before certificates were kept per host
// and port: its rows hold for their server's current host and port.
TEST_F(TrustTest, RowsOfAnOlderTableHoldAtTheServersHostAndPort) {
  std::string fingerprint;
  int port = 0;
  {
    TlsPeer peer(certs_ + "/self.pem", certs_ + "/self.key");
    ASSERT_TRUE(peer.Start());
    port = peer.Port();
    TLDAPSend ldap;
    ldap.TargetPort = std::to_string(peer.Port());
    ldap.FullSSL = true;
    auto any = std::make_shared<TAcceptAnyCertificate>();
    ldap.CertificateCheck = any;
    ASSERT_TRUE(ldap.Connect());
    fingerprint = any->seen.fingerprint;
  }
  ASSERT_EQ(fingerprint.size(), 95u);
  ASSERT_TRUE(d_.UpdateServer(std::to_string(first_), "first", "127.0.0.1", std::to_string(port),
                              "Y", "", "", ""));
  d_.db.ExecDirect(
      "CREATE TABLE trusted_certificates (id INTEGER PRIMARY KEY AUTOINCREMENT, serverid "
      "INTEGER, fingerprint VARCHAR(95), subject VARCHAR(1024), issuer VARCHAR(1024), expiry "
      "VARCHAR(32), trusted VARCHAR(32));"
      "INSERT INTO trusted_certificates (serverid, fingerprint, trusted) VALUES (" +
      std::to_string(first_) + ", '" + fingerprint + "', '2026-01-01 00:00:00 UTC')");

  EXPECT_TRUE(Connect(first_, "self", "127.0.0.1", port));
  EXPECT_TRUE(prompt_.asked.empty());
  const auto rows = quorvel::TrustedCertificates(d_, first_);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].host, "127.0.0.1");
  EXPECT_EQ(rows[0].port, port);
  EXPECT_EQ(rows[0].trusted, "2026-01-01 00:00:00 UTC");
  // Done once: the next look finds the columns and changes nothing.
  EXPECT_TRUE(quorvel::EnsureTrustTable(d_));
  EXPECT_EQ(quorvel::TrustedCertificates(d_, first_).size(), 1u);
}

// A trusted certificate whose end date has passed since it was trusted is
// asked about again, naming the expiry; trusted again, it connects silently.
// One that had already expired when it was trusted stays trusted.
TEST_F(TrustTest, ATrustedCertificateThatHasExpiredSinceIsAskedAboutAgain) {
  quorvel::test::RecordingSink sink;
  prompt_.answers = {taTrust};
  ASSERT_TRUE(Connect(first_, "expired"));  // valid 2020-01-01 to 2021-01-01
  const int port = lastPort_;
  auto trustedAt = [&](const std::string& when) {
    d_.db.ExecDirect("UPDATE trusted_certificates SET trusted = '" + when + "'");
  };
  struct Step {
    const char* what;
    const char* trusted;  // when the row says it was trusted; "" keeps it
    std::vector<TTrustAnswer> answers;
    bool connects, asked;
  } steps[] = {
      {"trusted after its end date: trusted as it was", "", {}, true, false},
      {"trusted before its end date: asked again, refused",
       "2020-06-01 00:00:00 UTC",
       {taCancel},
       false,
       true},
      {"trusted before its end date: asked again, trusted again", "", {taTrust}, true, true},
      {"trusted again: no question", "", {}, true, false},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    if (*s.trusted) trustedAt(s.trusted);
    prompt_.asked.clear();
    prompt_.answers.assign(s.answers.begin(), s.answers.end());
    sink.errors.clear();
    EXPECT_EQ(Connect(first_, "expired", "127.0.0.1", port), s.connects);
    ASSERT_EQ(prompt_.asked.size(), s.asked ? 1u : 0u);
    if (s.asked) {
      EXPECT_TRUE(prompt_.asked[0].expired);
      EXPECT_TRUE(prompt_.asked[0].remembered.empty());
      EXPECT_EQ(prompt_.asked[0].cert.notAfter, "2021-01-01 00:00:00 UTC");
    }
    if (!s.connects) {
      ASSERT_EQ(sink.errors.size(), 1u);
      EXPECT_NE(sink.errors[0].find("The server's trusted certificate has expired since it was "
                                    "trusted (expired on 2021-01-01 00:00:00 UTC)"),
                std::string::npos)
          << sink.errors[0];
    }
    EXPECT_EQ(Fingerprints(first_).size(), 1u);
  }
}
