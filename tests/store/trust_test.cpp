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
  ScriptedPrompt() { previous_ = SetTrustPrompt(this); }
  ~ScriptedPrompt() override { SetTrustPrompt(previous_); }
  TTrustAnswer Ask(const TTrustQuestion& q) override {
    asked.push_back(q);
    if (answers.empty()) return taCancel;
    const TTrustAnswer a = answers.front();
    answers.pop_front();
    return a;
  }
  std::deque<TTrustAnswer> answers;
  std::vector<TTrustQuestion> asked;

 private:
  TTrustPrompt* previous_ = nullptr;
};

// A catalogue made from an older schema (no trusted_certificates table), with
// two SSL servers; the trust store looks there.
class TrustTest : public ::testing::Test {
 protected:
  void SetUp() override {
    certs_ = TestCertificates();
    ASSERT_FALSE(certs_.empty());
    setenv("SSL_CERT_FILE", (certs_ + "/ca.pem").c_str(), 1);
    const std::string catalogue = dir_.Write("quorvel.db", "");
    {
      TASQLite3DB maker;
      maker.SetDriverDLL(kEngine);
      maker.SetDatabase(catalogue);
      maker.Open();
      maker.ExecDirect(kOldSchema);
    }
    ASSERT_TRUE(InitDatabases(d_, catalogue, dir_.Write("dump.db", ""), kEngine));
    first_ = d_.AddServer("first", "127.0.0.1", "636", "Y", "", "", "");
    second_ = d_.AddServer("second", "127.0.0.1", "636", "Y", "", "", "");
    previous_ = SetTrustCatalogue(&d_);
  }
  void TearDown() override { SetTrustCatalogue(previous_); }

  // ConnectServer for server id against a peer presenting cert; true when a
  // session came back.
  bool Connect(int id, const std::string& cert) {
    TlsPeer peer(certs_ + "/" + cert + ".pem", certs_ + "/" + cert + ".key");
    peer.ReadMessage().Send(kBindOk);
    if (!peer.Start()) return false;
    TServerNodeData s;
    s.id = id;
    s.server = "127.0.0.1";
    s.port = peer.Port();
    s.ssl = "Y";
    return ConnectServer(s) != nullptr;
  }
  std::vector<std::string> Fingerprints(int id) {
    std::vector<std::string> out;
    for (const auto& c : quorvel::TrustedCertificates(d_, id)) out.push_back(c.fingerprint);
    return out;
  }

  TempDir dir_;
  Tdata d_;
  std::string certs_;
  int first_ = 0, second_ = 0;
  Tdata* previous_ = nullptr;
};

}  // namespace

TEST_F(TrustTest, FirstUseAsksRemembersAndWarnsWhenTheCertificateChanges) {
  ScriptedPrompt prompt;
  quorvel::test::RecordingSink sink;
  struct Step {
    const char* what;
    int server;  // 1 first, 2 second, 0 not stored
    const char* cert;
    std::vector<TTrustAnswer> answers;
    bool connects;
    bool asked;
    bool changedWarning;
    size_t remembered;  // certificates remembered for the server afterwards
  } steps[] = {
      {"a verified certificate connects silently", 1, "good", {}, true, false, false, 0},
      {"self-signed, cancelled", 1, "self", {taCancel}, false, true, false, 0},
      {"self-signed, this time only", 1, "self", {taOnce}, true, true, false, 0},
      {"self-signed, trusted", 1, "self", {taTrust}, true, true, false, 1},
      {"trusted: no question any more", 1, "self", {}, true, false, false, 1},
      {"one server's certificate lets no other through",
       2,
       "self",
       {taCancel},
       false,
       true,
       false,
       0},
      {"changed certificate, default answer", 1, "expired", {}, false, true, true, 1},
      {"a server not stored yet cannot remember", 0, "other", {taTrust}, true, true, false, 0},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    const int id = s.server == 1 ? first_ : s.server == 2 ? second_ : 0;
    prompt.asked.clear();
    prompt.answers.assign(s.answers.begin(), s.answers.end());
    sink.errors.clear();
    EXPECT_EQ(Connect(id, s.cert), s.connects);
    ASSERT_EQ(prompt.asked.size(), s.asked ? 1u : 0u);
    if (s.asked) {
      const TTrustQuestion& q = prompt.asked[0];
      EXPECT_EQ(q.canRemember, id != 0);
      EXPECT_EQ(q.remembered.empty(), !s.changedWarning);
      EXPECT_FALSE(q.cert.fingerprint.empty());
      EXPECT_EQ(q.server.rfind("127.0.0.1:", 0), 0u);
      if (s.changedWarning) {
        EXPECT_EQ(q.remembered, Fingerprints(first_).at(0));
      }
    }
    if (!s.connects) {
      ASSERT_EQ(sink.errors.size(), 1u);
      const std::string why =
          s.changedWarning ? "has changed since it was trusted" : "is not trusted: self-signed";
      EXPECT_NE(sink.errors[0].find("ErrorCode: 10091"), std::string::npos) << sink.errors[0];
      EXPECT_NE(sink.errors[0].find(why), std::string::npos) << sink.errors[0];
    }
    if (id) {
      EXPECT_EQ(Fingerprints(id).size(), s.remembered);
    }
  }
}

TEST_F(TrustTest, TableMatchesTheSchemaAndGoesWithItsServer) {
  TPeerCertificate cert;
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
    ScriptedPrompt prompt;
    prompt.answers = {taTrust};
    quorvel::TTrustDecision decision(first_, "first");
    std::string refusal;
    EXPECT_TRUE(decision.AcceptUnverified(cert, refusal));
    ASSERT_EQ(sink.errors.size(), 1u);
    EXPECT_EQ(sink.errors[0],
              "The certificate of \"first\" could not be remembered (SQLiteExecute error: 19); it "
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
