// Trust on first use: the server certificates the user chose to trust, kept
// in the catalogue for the server and the host and port they were presented
// at, and the decision taken when a server's certificate fails verification
// (see net/certverify.h for the verification).
//
// The catalogue table, created when absent:
//   trusted_certificates (id, serverid, fingerprint, subject, issuer, expiry,
//                         trusted, host, port)
// fingerprint is the SHA-256 "AB:CD:..." text, expiry and trusted are
// "YYYY-MM-DD HH:MM:SS UTC", host and port are where the certificate was
// presented (the server's Host field as typed, and the port). A catalogue
// whose table predates host and port gets the two columns, and its rows get
// their server's current host and port, so that they keep working there.
// Deleting a server deletes its rows.
//
// The decision for a certificate that fails verification, for server id N,
// reached at host H and port P (what the connection actually used, from the
// certificate record the TLS layer fills, never from the caller):
//   - its fingerprint is remembered for N at H:P: connect, nobody is asked,
//     unless its end date has passed since it was trusted: then ask "trusted
//     certificate expired" (one that had already expired when it was trusted
//     stays trusted: the user saw its dates when trusting it);
//   - N has no certificate remembered at H:P (none at all, or only for
//     another host or port): ask "unknown certificate";
//   - N has another certificate remembered at H:P: ask "changed certificate"
//     (the connection may be intercepted);
// The answer: taTrust remembers it for N at H:P (replacing what N had) and
// connects, taOnce connects without remembering, taCancel ends the
// connection like a failed one, with the reason in its error text. With no
// prompt (the headless runner) the answer is always taCancel; with no
// catalogue nothing is looked up or remembered.
//
//   TLDAPSend ldap;  ...
//   quorvel::RequireTrust(ldap, {&catalogue, &prompt}, serverId);  // before Connect()
//
// The server dialog's Test keeps the trust it is given instead of storing it
// (KeepTrustPending); the caller stores it with KeepTestedTrust once the
// dialog is saved, and only for the host and port saved.
//
// Catalogue reads and writes happen on the thread that connects, one decision
// at a time. The prompt is called on that thread too; a windowed prompt moves
// to its GUI thread itself.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "net/certverify.h"

class Tdata;
class TLDAPSend;

struct TTrustedCertificate {
  int serverid = 0;
  std::string host;
  int port = 0;
  std::string fingerprint, subject, issuer, expiry, trusted;
};

enum TTrustAnswer { taTrust, taOnce, taCancel };

// What the user is asked about.
struct TTrustQuestion {
  TPeerCertificate cert;
  std::string server;       // "host:port" as connected ("[::1]:636" for an IPv6 address)
  std::string remembered;   // the fingerprint trusted before (a changed certificate), else empty
  bool expired = false;     // the certificate trusted before, expired since (cert.notAfter)
  bool canRemember = true;  // false when the answer could not be kept
};

class TTrustPrompt {
 public:
  virtual ~TTrustPrompt() = default;
  virtual TTrustAnswer Ask(const TTrustQuestion& question) = 0;
};

// Where a decision looks for trusted certificates and whom it asks; neither
// is owned, both may be nullptr (nothing remembered; nobody asked).
struct TTrustContext {
  Tdata* catalogue = nullptr;
  TTrustPrompt* prompt = nullptr;
};

namespace quorvel {

inline constexpr const char* kTrustTable = "trusted_certificates";

// Creates the table when absent, and gives an older one its host and port
// columns (filled from the servers); false when that failed.
bool EnsureTrustTable(Tdata& d);
// The certificates remembered for a server (at every host and port), oldest first.
std::vector<TTrustedCertificate> TrustedCertificates(Tdata& d, int serverid);
// Remembers cert for the server at cert.host and cert.port, in place of what
// the server had; false on failure, with the reason in `error` when given.
bool TrustCertificate(Tdata& d, int serverid, const TPeerCertificate& cert,
                      std::string* error = nullptr);
// Stores what the server dialog's Test trusted, for the server saved with
// host and port: only when the certificate was presented at exactly that host
// and port. False when nothing was stored (`error` says why only when storing
// itself failed).
bool KeepTestedTrust(Tdata& d, int serverid, const TPeerCertificate& cert, const std::string& host,
                     int port, std::string* error = nullptr);
// Forgets every certificate of the server (done when the server is deleted).
bool ForgetCertificates(Tdata& d, int serverid);
// The trusted certificate row's certificate has passed its end date since it
// was trusted (cert is that certificate as presented now).
bool ExpiredSinceTrusted(const TTrustedCertificate& row, const TPeerCertificate& cert);
// "host:port", with an IPv6 address in brackets.
std::string ServerAddress(const std::string& host, int port);

// The decision for the connections of one session to one server.
class TTrustDecision : public TCertificateCheck {
 public:
  // serverid 0: a server not stored yet (nothing is remembered for it).
  TTrustDecision(TTrustContext context, int serverid);
  bool AcceptUnverified(const TPeerCertificate& cert, std::string& refusal) override;

  // "Trust and connect" keeps the certificate in Pending() instead of
  // storing it, and later connections through this decision accept it at the
  // same host and port (the server dialog's Test).
  bool KeepTrustPending = false;
  const std::optional<TPeerCertificate>& Pending() const { return pending_; }

  // The last certificate decided about, and the fingerprint that was
  // remembered for the server when it did not match (empty otherwise).
  const TPeerCertificate& Certificate() const { return cert_; }
  const std::string& Remembered() const { return remembered_; }
  // The last certificate was the trusted one, expired since it was trusted.
  bool Expired() const { return expired_; }
  bool Refused() const { return refused_; }

 private:
  TTrustContext context_;
  int serverid_;
  TPeerCertificate cert_;
  std::optional<TPeerCertificate> pending_;
  std::string remembered_;
  bool expired_ = false;
  bool refused_ = false;
};

// Makes the session's TLS handshakes decide through a TTrustDecision for the
// stored server serverid (0: not stored) in context, and returns it (owned
// by the session).
TTrustDecision* RequireTrust(TLDAPSend& session, TTrustContext context, int serverid);

}  // namespace quorvel
