// Who is on the other end of a TLS connection: the server certificate's
// details, the outcome of verifying it, and the hook that decides about a
// certificate that does not verify.
//
// With VerifyCert on (TLDAPSend turns it on for every LDAPS and StartTLS
// connection), TSSLOpenSSL::ClientHandshake verifies the server's certificate:
//   - the chain against the system's trust store (OpenSSL's default verify
//     paths, so SSL_CERT_FILE / SSL_CERT_DIR work as everywhere else);
//   - the name against VerifyHost: an IP address literal must be one of the
//     certificate's IP addresses, any other text one of its DNS names
//     (subjectAltName first, the common name only when there is none).
// Verification does not stop at the first failure: every one is collected
// (an untrusted issuer, the dates, the host), so that a certificate that is
// self-signed, expired and issued for another host says all three.
// A certificate that passes connects without asking anything. One that fails
// is described in a TPeerCertificate and handed to the plug-in's
// TCertificateCheck: true goes on with the connection, false ends the
// handshake (socket error 10091; the plug-in's LastErrorText() says why). No
// check installed means every such certificate is refused.
//
//   class TAskUser : public TCertificateCheck {
//     bool AcceptUnverified(const TPeerCertificate& c, std::string& why) override {
//       if (remembered(c.fingerprint)) return true;
//       why = "not trusted: " + c.reason;  return false;
//     }
//   };
//   ldap.CertificateCheck = std::make_shared<TAskUser>();
//
// The check runs on the thread that connects, after the handshake finished and
// before any LDAP octet is sent. It must not throw.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One failure met while verifying a certificate: OpenSSL's verification error
// number and the place in the chain (0 the server's own certificate, 1 its
// issuer, ...).
struct TVerifyFailure {
  int32_t code = 0;
  int depth = 0;
  bool operator==(const TVerifyFailure&) const = default;
};

struct TPeerCertificate {
  std::string host;     // the name or address the connection was made to
  int port = 0;         // the port it was made to
  std::string subject;  // one-line names, "/C=XX/O=Org/CN=ldap1"
  std::string issuer;
  std::string notBefore;  // "2026-01-31 12:00:00 UTC"
  std::string notAfter;
  std::string names;        // whom it is issued for: "DNS:ldap1, IP Address:10.0.0.1" (or "CN=...")
  std::string fingerprint;  // SHA-256 of the DER encoding, "AB:CD:...:EF" (95 characters)
  int32_t verifyError = 0;  // 0 when verified, otherwise OpenSSL's verification error number
  // Every failure the verification met (empty when verified), each once.
  std::vector<TVerifyFailure> failures;
  // Every failure in plain words, "; " between them: the trust first
  // ("self-signed", "issued by an authority that is not trusted: ..."), then
  // the dates ("expired on ..."), then the host ("issued for another host:
  // DNS:a, IP Address:b").
  std::string reason;
};

class TCertificateCheck {
 public:
  virtual ~TCertificateCheck() = default;
  // Decides about a certificate that failed verification. On false, refusal
  // is the text the connection failure carries ("The server's certificate was
  // not accepted: self-signed").
  virtual bool AcceptUnverified(const TPeerCertificate& cert, std::string& refusal) = 0;
};

// A check that lets every certificate through and keeps the last one it saw
// (for showing a certificate before anyone decides about it).
class TAcceptAnyCertificate : public TCertificateCheck {
 public:
  bool AcceptUnverified(const TPeerCertificate& cert, std::string&) override {
    seen = cert;
    return true;
  }
  TPeerCertificate seen;
};

namespace quorvel::ssl {

// A SHA-256 fingerprint as typed by a user, colon-separated ("ab:CD:...") or
// plain hexadecimal, in either letter case, in the canonical "AB:CD:..."
// form; empty when it is not 32 octets of hexadecimal.
std::string NormalizeFingerprint(const std::string& text);

// The plain-words reason for an OpenSSL verification error number: "self-signed",
// "issued for another host: <names>", "expired on <notAfter>", "not valid
// before <notBefore>", "issued by an authority that is not trusted: <issuer>",
// else OpenSSL's own text. A date failure of an authority's certificate (depth
// above 0) says so instead of naming the server's dates.
std::string VerifyReason(int32_t code, const TPeerCertificate& cert, int depth = 0);
// Every failure of cert.failures in plain words, in the order described at
// TPeerCertificate::reason, the same text only once; empty for none.
std::string VerifyReasons(const TPeerCertificate& cert);

// True when the verification found the certificate's own end date passed.
bool HasExpired(const TPeerCertificate& cert);

// True when text is an IPv4 or IPv6 address literal.
bool IsAddressLiteral(const std::string& text);

// The text after "/CN=" in a one-line subject, up to the next "/", trimmed.
std::string CommonNameOf(const std::string& subject);

// Internal to the TLS layer (ssl is an OpenSSL connection handle):
// Asks the connection to verify the certificate against host (name or
// address literal) and, for a name, to send it as the server name (SNI).
bool ExpectHost(void* ssl, const std::string& host);
// The one-line form of a certificate name ("/C=XX/O=Org/CN=ldap1"); empty for
// none.
std::string NameLine(void* name);
// Makes the connection's verification record every failure in *sink (which
// must outlive the handshake) and go on to the end, instead of stopping at
// the first; false when that could not be arranged.
bool CollectFailures(void* ssl, std::vector<TVerifyFailure>* sink);
// The peer certificate's details and verification outcome, with the failures
// collected during the handshake; false when the server sent no certificate.
bool ReadPeerCertificate(void* ssl, const std::string& host,
                         const std::vector<TVerifyFailure>& failures, TPeerCertificate& out);

}  // namespace quorvel::ssl
