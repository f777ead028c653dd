// The socket and its TLS plug-in against the private slapd: raw LDAP messages
// over clear TCP, LDAPS and StartTLS.
#include <string>

using namespace std::string_literals;

#include <gtest/gtest.h>

#include "common/slapd_env.h"
#include "net/blocksocket.h"

namespace {

const quorvel::test::SlapdEnv& Env() {
  return quorvel::test::Slapd();
}

std::string Len(size_t n) {
  if (n < 0x80) return std::string(1, static_cast<char>(n));
  std::string b;
  for (; n; n >>= 8) b.insert(b.begin(), static_cast<char>(n & 0xFF));
  return std::string(1, static_cast<char>(0x80 | b.size())) + b;
}
std::string Tlv(unsigned char tag, const std::string& v) {
  return std::string(1, static_cast<char>(tag)) + Len(v.size()) + v;
}
std::string Int(int v) {
  return Tlv(0x02, std::string(1, static_cast<char>(v)));
}
std::string Message(int id, const std::string& op) {
  return Tlv(0x30, Int(id) + op);
}
std::string BindRequest(int id, const std::string& dn, const std::string& pw) {
  return Message(id, Tlv(0x60, Int(3) + Tlv(0x04, dn) + Tlv(0x80, pw)));
}

// Reads one whole LDAP message the way the LDAP client does.
std::string ReadMessage(TBlockSocket& s, int timeout = 5000) {
  uint8_t tag = s.ReceiveByte(timeout);
  if (s.LastError() != 0 || tag != 0x30) return "";
  std::string head(1, '\x30');
  uint8_t l = s.ReceiveByte(timeout);
  head += static_cast<char>(l);
  size_t len = l;
  if (l >= 0x80) {
    std::string more = s.ReceiveExact(l & 0x7F, timeout);
    head += more;
    len = 0;
    for (unsigned char c : more) len = (len << 8) | c;
  }
  if (s.LastError() != 0) return "";
  return head + s.ReceiveExact(static_cast<int>(len), timeout);
}

// Protocol-op tag and result code of a response with a one-octet message id.
struct Op {
  int tag = -1;
  int code = -1;
};
Op Parse(const std::string& m) {
  Op op;
  size_t p = 1;
  unsigned char l = static_cast<unsigned char>(m.at(p));
  p += 1 + (l >= 0x80 ? (l & 0x7F) : 0);
  p += 2 + static_cast<unsigned char>(m.at(p + 1));  // the message id
  op.tag = static_cast<unsigned char>(m.at(p));
  l = static_cast<unsigned char>(m.at(p + 1));
  p += 2 + (l >= 0x80 ? (l & 0x7F) : 0);
  if (p + 2 < m.size() && m[p] == 0x0A) op.code = static_cast<unsigned char>(m[p + 2]);
  return op;
}

void Connect(TTCPBlockSocket& s, int port) {
  s.BindLocal("0.0.0.0", "0");
  s.ConnectTo(Env().host, std::to_string(port));
  ASSERT_EQ(s.LastError(), 0) << s.LastErrorText();
}

int Bind(TTCPBlockSocket& s, int id, const std::string& dn, const std::string& pw) {
  s.SendBytes(BindRequest(id, dn, pw));
  if (s.LastError() != 0) return -1;
  std::string r = ReadMessage(s);
  return r.empty() ? -1 : Parse(r).code;
}

}  // namespace

TEST(SlapdTransport, ClearBindsAnonymousUserAndWrongPassword) {
  QUORVEL_REQUIRE_SLAPD(Env());
  TTCPBlockSocket s;
  Connect(s, Env().port);
  s.SendBytes(std::string("\x30\x0c\x02\x01\x01\x60\x07\x02\x01\x03\x04\x00\x80\x00", 14));
  EXPECT_EQ(ReadMessage(s),
            std::string("\x30\x0c\x02\x01\x01\x61\x07\x0a\x01\x00\x04\x00\x04\x00", 14));
  EXPECT_EQ(Bind(s, 2, Env().userDn, Env().userPw), 0);
  EXPECT_EQ(Bind(s, 3, Env().userDn, "wrong"), 49);
  EXPECT_GT(s.RecvCounter(), 0u);
  s.Close();
  EXPECT_EQ(s.LastError(), 0);
}

TEST(SlapdTransport, LdapsHandshakeShowsTheHarnessCertificate) {
  QUORVEL_REQUIRE_SLAPD(Env());
  TTCPBlockSocket s;
  Connect(s, Env().ldapsPort);
  s.SslConnect();
  ASSERT_EQ(s.LastError(), 0) << s.SSL()->LastErrorText();
  TCustomSSL* ssl = s.SSL();
  EXPECT_TRUE(ssl->SSLEnabled());
  EXPECT_NE(ssl->PeerSubject().find("/CN=quorvel-test-server"), std::string::npos)
      << ssl->PeerSubject();
  EXPECT_EQ(ssl->PeerCommonName(), "quorvel-test-server");
  EXPECT_EQ(ssl->PeerIssuer(), "/O=Quorvel Test/CN=Quorvel Test CA");  // the harness's authority
  EXPECT_EQ(ssl->ProtocolVersionText().rfind("TLS", 0), 0u);
  EXPECT_FALSE(ssl->CipherName().empty());
  EXPECT_GT(ssl->CipherBits(), 0);
  EXPECT_EQ(ssl->PeerFingerprint().size(), 16u);
  EXPECT_NE(ssl->CertificateInfo().find("\r\n"), std::string::npos);
  // A bare socket does not verify (VerifyCert off): the sessions do.
  EXPECT_NE(ssl->VerifyResult(), 0);
  EXPECT_EQ(Bind(s, 1, Env().userDn, Env().userPw), 0);
  // After an unbind the server ends the TLS session and closes: that reads as
  // the peer closing (10054), not as a TLS failure.
  s.SendBytes(std::string("\x30\x05\x02\x01\x02\x42\x00", 7));
  EXPECT_EQ(s.ReceiveByte(5000), 0);
  EXPECT_EQ(s.LastError(), 10054);
  s.Close();
  EXPECT_EQ(s.LastError(), 0);
  EXPECT_FALSE(ssl->SSLEnabled());
}

TEST(SlapdTransport, StartTlsThenBindAndALargeEntryOverTls) {
  QUORVEL_REQUIRE_SLAPD(Env());
  TTCPBlockSocket s;
  Connect(s, Env().port);
  const std::string oid = "1.3.6.1.4.1.1466.20037";
  s.SendBytes(Message(1, Tlv(0x77, Tlv(0x80, oid))));
  std::string r = ReadMessage(s);
  ASSERT_FALSE(r.empty()) << s.LastErrorText();
  EXPECT_EQ(Parse(r).tag, 0x78);
  EXPECT_EQ(Parse(r).code, 0);
  s.SslConnect();
  ASSERT_EQ(s.LastError(), 0) << s.SSL()->LastErrorText();
  EXPECT_EQ(Bind(s, 2, Env().userDn, Env().userPw), 0);

  // The group of 3,000 members: one entry of ~150 KB spread over many TLS records.
  std::string search = Tlv(0x04, "cn=big,ou=groups," + Env().base) + Tlv(0x0A, "\x00"s) +
                       Tlv(0x0A, "\x00"s) + Int(0) + Int(0) + Tlv(0x01, "\x00"s) +
                       Tlv(0x87, "objectClass") + Tlv(0x30, Tlv(0x04, "member"));
  s.SendBytes(Message(3, Tlv(0x63, search)));
  std::string entry = ReadMessage(s);
  ASSERT_FALSE(entry.empty()) << s.LastErrorText();
  EXPECT_EQ(Parse(entry).tag, 0x64);
  EXPECT_GT(entry.size(), 100000u);
  size_t members = 0;
  for (size_t p = entry.find("uid=user"); p != std::string::npos; p = entry.find("uid=user", p + 1))
    ++members;
  EXPECT_EQ(members, 3000u);
  std::string done = ReadMessage(s);
  ASSERT_FALSE(done.empty());
  EXPECT_EQ(Parse(done).tag, 0x65);
  EXPECT_EQ(Parse(done).code, 0);
}

TEST(SlapdTransport, HandshakeWithAClearPortFailsWith10091) {
  QUORVEL_REQUIRE_SLAPD(Env());
  TTCPBlockSocket s;
  Connect(s, Env().port);
  s.SslConnect();
  EXPECT_EQ(s.LastError(), 10091);
  EXPECT_EQ(s.LastErrorText(), "Network subsystem is unusable");
  EXPECT_FALSE(s.SSL()->SSLEnabled());
  EXPECT_FALSE(s.SSL()->LastErrorText().empty());
}

TEST(SlapdTransport, WithoutOpenSslOnlySslConnectionsFail) {
  QUORVEL_REQUIRE_SLAPD(Env());
  quorvel::ForceSSLNone(true);
  TTCPBlockSocket tls;
  TTCPBlockSocket clear;
  quorvel::ForceSSLNone(false);
  ASSERT_NE(dynamic_cast<TSSLNone*>(tls.SSL()), nullptr);
  Connect(tls, Env().ldapsPort);
  tls.SslConnect();
  EXPECT_EQ(tls.LastError(), 10091);
  EXPECT_EQ(tls.SSL()->LastError(), -1);
  EXPECT_EQ(tls.SSL()->LastErrorText(), "SLL is not implemented!");
  tls.Close();

  Connect(clear, Env().port);
  EXPECT_EQ(Bind(clear, 1, "", ""), 0);
}

TEST(SlapdTransport, SilenceAfterTheHandshakeTimesOutWith10060) {
  QUORVEL_REQUIRE_SLAPD(Env());
  TTCPBlockSocket s;
  Connect(s, Env().ldapsPort);
  s.SslConnect();
  ASSERT_EQ(s.LastError(), 0);
  // The server may send session tickets and then nothing: no application data
  // arrives, so the wait must end with the time-out, not block in the TLS read.
  EXPECT_EQ(s.ReceiveByte(300), 0);
  EXPECT_EQ(s.LastError(), 10060);
  EXPECT_EQ(Bind(s, 1, Env().userDn, Env().userPw), 0);  // still usable
}
