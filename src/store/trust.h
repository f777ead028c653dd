// Trust on first use: the server certificates the user chose to trust, kept
// per server in the catalogue, and the decision taken when a server's
// certificate fails verification (see net/certverify.h for the verification).
//
// The catalogue table, created when absent (older catalogues open and work;
// no existing table or column changes):
//   trusted_certificates (id, serverid, fingerprint, subject, issuer, expiry, trusted)
// fingerprint is the SHA-256 "AB:CD:..." text, expiry and trusted are
// "YYYY-MM-DD HH:MM:SS UTC". Deleting a server deletes its rows.
//
// The decision for a certificate that fails verification, for server id N:
//   - its fingerprint is remembered for N: connect, nobody is asked;
//   - N has no remembered certificate: ask "unknown certificate";
//   - N has remembered certificates, none of them this one: ask "changed
//     certificate" (the connection may be intercepted);
// The answer: taTrust remembers it for N (replacing what N had) and connects,
// taOnce connects without remembering, taCancel ends the connection like a
// failed one, with the reason in its error text. With no prompt installed
// (the headless runner) the answer is always taCancel.
//
//   TLDAPSend ldap;  ...
//   quorvel::RequireTrust(ldap, serverId, "ldap1:636");  // before Connect()
//
// Catalogue reads and writes happen on the thread that connects, through
// queries of their own, one decision at a time. The prompt is called on that
// thread too; a windowed prompt moves to its GUI thread itself.
#pragma once

#include <string>
#include <vector>

#include "net/certverify.h"

class Tdata;
class TLDAPSend;

struct TTrustedCertificate {
  int serverid = 0;
  std::string fingerprint, subject, issuer, expiry, trusted;
};

enum TTrustAnswer { taTrust, taOnce, taCancel };

// What the user is asked about.
struct TTrustQuestion {
  TPeerCertificate cert;
  std::string server;       // "host:port"
  std::string remembered;   // the fingerprint trusted before (a changed certificate), else empty
  bool canRemember = true;  // false for a server that is not stored yet
};

class TTrustPrompt {
 public:
  virtual ~TTrustPrompt() = default;
  virtual TTrustAnswer Ask(const TTrustQuestion& question) = 0;
};

// Installs the prompt (not owned; nullptr: nobody to ask). Returns the previous one.
TTrustPrompt* SetTrustPrompt(TTrustPrompt* prompt);
// The catalogue the trusted certificates live in (not owned; nullptr: the
// program's data module). Returns the previous one.
Tdata* SetTrustCatalogue(Tdata* catalogue);

namespace quorvel {

inline constexpr const char* kTrustTable = "trusted_certificates";

// Creates the table when absent; false when that failed.
bool EnsureTrustTable(Tdata& d);
// The certificates remembered for a server, oldest first.
std::vector<TTrustedCertificate> TrustedCertificates(Tdata& d, int serverid);
// Remembers cert for the server in place of what it had; false on failure,
// with the reason in `error` when given.
bool TrustCertificate(Tdata& d, int serverid, const TPeerCertificate& cert,
                      std::string* error = nullptr);
// Forgets every certificate of the server (done when the server is deleted).
bool ForgetCertificates(Tdata& d, int serverid);

// The decision for one connection to one server.
class TTrustDecision : public TCertificateCheck {
 public:
  TTrustDecision(int serverid, std::string server);
  bool AcceptUnverified(const TPeerCertificate& cert, std::string& refusal) override;

  // The last certificate decided about, and the fingerprint that was
  // remembered for the server when it did not match (empty otherwise).
  const TPeerCertificate& Certificate() const { return cert_; }
  const std::string& Remembered() const { return remembered_; }
  bool Refused() const { return refused_; }

 private:
  int serverid_;
  std::string server_;
  TPeerCertificate cert_;
  std::string remembered_;
  bool refused_ = false;
};

// Makes the session's TLS handshakes decide through a TTrustDecision for the
// stored server serverid (0: not stored, nothing can be remembered) and
// returns it (owned by the session).
TTrustDecision* RequireTrust(TLDAPSend& session, int serverid, const std::string& server);

}  // namespace quorvel
