// The trusted-certificates table and the trust-on-first-use decision.
#include "store/trust.h"

#include <ctime>
#include <exception>
#include <memory>
#include <mutex>

#include "ldap/session.h"
#include "store/catalogueupgrade.h"
#include "store/data.h"
#include "store/messages.h"

namespace {

// One decision (catalogue reads, question, catalogue write) at a time.
std::mutex g_decide;

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
    "  trusted VARCHAR(32),\n"
    "  host VARCHAR(255),\n"
    "  port INTEGER\n"
    ")";

// A table made before certificates were kept per host and port gets the two
// columns; its rows hold for their server's current host and port, where
// they were trusted as far as anyone can tell. All of it or nothing.
const char* const kAddHostAndPort[] = {
    "ALTER TABLE trusted_certificates ADD COLUMN host VARCHAR(255)",
    "ALTER TABLE trusted_certificates ADD COLUMN port INTEGER",
    "UPDATE trusted_certificates SET "
    "host = (SELECT server FROM servers WHERE servers.id = trusted_certificates.serverid), "
    "port = (SELECT port FROM servers WHERE servers.id = trusted_certificates.serverid)",
};

bool HasHostColumn(Tdata& d) {
  try {
    return quorvel::HasColumn(d.db, "trusted_certificates", "host");
  } catch (const std::exception&) {
    return false;
  }
}

bool AddHostAndPort(Tdata& d) {
  const bool own = !d.db.InTransaction();
  try {
    if (own) d.db.StartTransaction();
    for (const char* statement : kAddHostAndPort)
      if (!Exec(d, statement, {})) {
        if (own) d.db.RollBack();
        return false;
      }
    if (own) d.db.Commit();
    return true;
  } catch (const std::exception&) {
    try {
      if (own && d.db.InTransaction()) d.db.RollBack();
    } catch (const std::exception&) {
    }
    return false;
  }
}

// The certificate was presented where the row says it was trusted.
bool SamePlace(const TTrustedCertificate& row, const TPeerCertificate& cert) {
  return row.host == cert.host && row.port == cert.port;
}

}  // namespace

namespace quorvel {

bool EnsureTrustTable(Tdata& d) {
  return d.db.Connected() && Exec(d, kCreate, {}) && (HasHostColumn(d) || AddHostAndPort(d));
}

std::vector<TTrustedCertificate> TrustedCertificates(Tdata& d, int serverid) {
  std::vector<TTrustedCertificate> out;
  if (!EnsureTrustTable(d)) return out;
  try {
    TASQLite3Query q(&d.db);
    if (!Exec(d,
              "SELECT serverid, fingerprint, subject, issuer, expiry, trusted, host, port FROM "
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
      c.host = q.FieldByName("host").AsString();
      c.port = q.FieldByName("port").AsInteger();
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
               "trusted, host, port) VALUES (" +
                   std::to_string(serverid) + ", ?, ?, ?, ?, ?, ?, " + std::to_string(cert.port) +
                   ")",
               {cert.fingerprint, cert.subject, cert.issuer, cert.notAfter, NowText(), cert.host},
               nullptr, &reason)) {
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

bool KeepTestedTrust(Tdata& d, int serverid, const TPeerCertificate& cert, const std::string& host,
                     int port, std::string* error) {
  if (cert.fingerprint.empty() || cert.host != host || cert.port != port) return false;
  return TrustCertificate(d, serverid, cert, error);
}

bool ExpiredSinceTrusted(const TTrustedCertificate& row, const TPeerCertificate& cert) {
  // Both times are "YYYY-MM-DD HH:MM:SS UTC", so they compare as text. A time
  // that cannot be read counts as expired since: asking is the safe side.
  return ssl::HasExpired(cert) &&
         (row.trusted.empty() || cert.notAfter.empty() || row.trusted < cert.notAfter);
}

std::string ServerAddress(const std::string& host, int port) {
  const std::string h = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  return h + ":" + std::to_string(port);
}

TTrustDecision::TTrustDecision(TTrustContext context, int serverid)
    : context_(context), serverid_(serverid) {}

bool TTrustDecision::AcceptUnverified(const TPeerCertificate& cert, std::string& refusal) {
  std::unique_lock<std::mutex> lock(g_decide);
  cert_ = cert;
  remembered_.clear();
  expired_ = false;
  refused_ = false;
  const std::string server = ServerAddress(cert.host, cert.port);
  if (pending_ && pending_->fingerprint == cert.fingerprint && pending_->host == cert.host &&
      pending_->port == cert.port)
    return true;
  Tdata* d = context_.catalogue;
  std::vector<TTrustedCertificate> known;
  if (d && serverid_ > 0) known = TrustedCertificates(*d, serverid_);
  for (const TTrustedCertificate& k : known) {
    if (!SamePlace(k, cert)) continue;
    if (k.fingerprint != cert.fingerprint) {
      remembered_ = k.fingerprint;
    } else if (ExpiredSinceTrusted(k, cert)) {
      expired_ = true;
    } else {
      return true;
    }
  }
  if (expired_) remembered_.clear();

  TTrustQuestion question;
  question.cert = cert;
  question.server = server;
  question.remembered = remembered_;
  question.expired = expired_;
  question.canRemember = KeepTrustPending || (d && serverid_ > 0);
  TTrustPrompt* prompt = context_.prompt;
  // Nothing is held while the user reads the question.
  lock.unlock();
  const TTrustAnswer answer = prompt ? prompt->Ask(question) : taCancel;
  lock.lock();
  if (answer == taTrust && KeepTrustPending) {
    pending_ = cert;
    return true;
  }
  if (answer == taTrust && question.canRemember) {
    // Not being able to remember it does not stop the connection the user
    // allowed, but the user is told, since the question will come again.
    std::string reason;
    if (!TrustCertificate(*d, serverid_, cert, &reason)) {
      lock.unlock();
      LogError("The certificate of \"" + server + "\" could not be remembered (" + reason +
               "); it is trusted for this connection only, and the question will come again.");
    }
    return true;
  }
  if (answer == taTrust || answer == taOnce) return true;
  refused_ = true;
  if (expired_)
    refusal =
        "The server's trusted certificate has expired since it was trusted (" + cert.reason + ")";
  else if (!remembered_.empty())
    refusal =
        "The server's certificate has changed since it was trusted; the connection may be "
        "intercepted (" +
        cert.reason + ")";
  else
    refusal = "The server's certificate is not trusted: " + cert.reason;
  return false;
}

TTrustDecision* RequireTrust(TLDAPSend& session, TTrustContext context, int serverid) {
  auto decision = std::make_shared<TTrustDecision>(context, serverid);
  session.CertificateCheck = decision;
  return decision.get();
}

}  // namespace quorvel
