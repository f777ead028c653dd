// The trusted-certificates table and the trust-on-first-use decision.
#include "store/trust.h"

#include <ctime>
#include <exception>
#include <memory>
#include <mutex>

#include "ldap/session.h"
#include "store/data.h"
#include "store/messages.h"

namespace {

TTrustPrompt* g_prompt = nullptr;
Tdata* g_catalogue = nullptr;
// One decision (catalogue reads, question, catalogue write) at a time.
std::mutex g_decide;

Tdata* Catalogue() {
  return g_catalogue ? g_catalogue : ::data;
}

std::string NowText() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char buf[40];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S UTC", &tm);
  return buf;
}

// Runs one statement on the catalogue with its own query object; false on any
// error, whose text goes to `error` when given.
bool Exec(Tdata& d, const std::string& text, const std::vector<std::string>& values,
          TASQLite3Query* keep = nullptr, std::string* error = nullptr) {
  try {
    TASQLite3Query local(&d.db);
    TASQLite3Query& q = keep ? *keep : local;
    q.SetSQL(text);
    q.SetParamValues(values);
    q.ExecSQL();
    return true;
  } catch (const std::exception& e) {
    if (error) *error = e.what();
    return false;
  }
}

const char kCreate[] =
    "CREATE TABLE IF NOT EXISTS trusted_certificates (\n"
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,\n"
    "  serverid INTEGER,\n"
    "  fingerprint VARCHAR(95),\n"
    "  subject VARCHAR(1024),\n"
    "  issuer VARCHAR(1024),\n"
    "  expiry VARCHAR(32),\n"
    "  trusted VARCHAR(32)\n"
    ")";

}  // namespace

TTrustPrompt* SetTrustPrompt(TTrustPrompt* prompt) {
  std::lock_guard<std::mutex> lock(g_decide);
  TTrustPrompt* old = g_prompt;
  g_prompt = prompt;
  return old;
}

Tdata* SetTrustCatalogue(Tdata* catalogue) {
  std::lock_guard<std::mutex> lock(g_decide);
  Tdata* old = g_catalogue;
  g_catalogue = catalogue;
  return old;
}

namespace quorvel {

bool EnsureTrustTable(Tdata& d) {
  return d.db.Connected() && Exec(d, kCreate, {});
}

std::vector<TTrustedCertificate> TrustedCertificates(Tdata& d, int serverid) {
  std::vector<TTrustedCertificate> out;
  if (!EnsureTrustTable(d)) return out;
  try {
    TASQLite3Query q(&d.db);
    if (!Exec(d,
              "SELECT serverid, fingerprint, subject, issuer, expiry, trusted FROM "
              "trusted_certificates WHERE serverid = " +
                  std::to_string(serverid) + " ORDER BY id",
              {}, &q))
      return out;
    for (q.First(); !q.Eof(); q.Next()) {
      TTrustedCertificate c;
      c.serverid = q.FieldByName("serverid").AsInteger();
      c.fingerprint = q.FieldByName("fingerprint").AsString();
      c.subject = q.FieldByName("subject").AsString();
      c.issuer = q.FieldByName("issuer").AsString();
      c.expiry = q.FieldByName("expiry").AsString();
      c.trusted = q.FieldByName("trusted").AsString();
      out.push_back(std::move(c));
    }
  } catch (const std::exception&) {
    out.clear();
  }
  return out;
}

bool TrustCertificate(Tdata& d, int serverid, const TPeerCertificate& cert, std::string* error) {
  std::string reason;
  if (serverid <= 0 || cert.fingerprint.empty()) {
    reason = "the server or the certificate is unknown";
  } else if (!EnsureTrustTable(d)) {
    reason = "the table of trusted certificates could not be made";
  } else {
    // Both statements or neither: a failed insert must not leave the server
    // without the certificate it trusted before.
    try {
      d.db.StartTransaction();
      if (Exec(d, "DELETE FROM trusted_certificates WHERE serverid = " + std::to_string(serverid),
               {}, nullptr, &reason) &&
          Exec(d,
               "INSERT INTO trusted_certificates (serverid, fingerprint, subject, issuer, expiry, "
               "trusted) VALUES (" +
                   std::to_string(serverid) + ", ?, ?, ?, ?, ?)",
               {cert.fingerprint, cert.subject, cert.issuer, cert.notAfter, NowText()}, nullptr,
               &reason)) {
        d.db.Commit();
        return true;
      }
      d.db.RollBack();
    } catch (const std::exception& e) {
      if (reason.empty()) reason = e.what();
      try {
        if (d.db.InTransaction()) d.db.RollBack();
      } catch (const std::exception&) {
      }
    }
  }
  if (error) *error = reason;
  return false;
}

bool ForgetCertificates(Tdata& d, int serverid) {
  return EnsureTrustTable(d) &&
         Exec(d, "DELETE FROM trusted_certificates WHERE serverid = " + std::to_string(serverid),
              {});
}

TTrustDecision::TTrustDecision(int serverid, std::string server)
    : serverid_(serverid), server_(std::move(server)) {}

bool TTrustDecision::AcceptUnverified(const TPeerCertificate& cert, std::string& refusal) {
  std::unique_lock<std::mutex> lock(g_decide);
  cert_ = cert;
  remembered_.clear();
  refused_ = false;
  Tdata* d = Catalogue();
  std::vector<TTrustedCertificate> known;
  if (d && serverid_ > 0) known = TrustedCertificates(*d, serverid_);
  for (const TTrustedCertificate& k : known)
    if (k.fingerprint == cert.fingerprint) return true;
  if (!known.empty()) remembered_ = known.back().fingerprint;

  TTrustQuestion question;
  question.cert = cert;
  question.server = server_;
  question.remembered = remembered_;
  question.canRemember = d && serverid_ > 0;
  TTrustPrompt* prompt = g_prompt;
  // Nothing is held while the user reads the question.
  lock.unlock();
  const TTrustAnswer answer = prompt ? prompt->Ask(question) : taCancel;
  lock.lock();
  if (answer == taTrust && question.canRemember) {
    // Not being able to remember it does not stop the connection the user
    // allowed, but the user is told, since the question will come again.
    std::string reason;
    if (!TrustCertificate(*d, serverid_, cert, &reason)) {
      lock.unlock();
      LogError("The certificate of \"" + server_ + "\" could not be remembered (" + reason +
               "); it is trusted for this connection only, and the question will come again.");
    }
    return true;
  }
  if (answer == taTrust || answer == taOnce) return true;
  refused_ = true;
  refusal = remembered_.empty()
                ? "The server's certificate is not trusted: " + cert.reason
                : "The server's certificate has changed since it was trusted; the connection "
                  "may be intercepted (" +
                      cert.reason + ")";
  return false;
}

TTrustDecision* RequireTrust(TLDAPSend& session, int serverid, const std::string& server) {
  auto decision = std::make_shared<TTrustDecision>(serverid, server);
  session.CertificateCheck = decision;
  return decision.get();
}

}  // namespace quorvel
