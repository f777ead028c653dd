#include "report/certcommands.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "ldap/session.h"
#include "net/blocksocket.h"
#include "report/reportrun.h"
#include "store/cataloguereader.h"
#include "store/connect.h"
#include "store/data.h"
#include "store/messages.h"

namespace quorvel {
namespace {

std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string TrustCommand(const std::string& fingerprint, const std::string& name,
                         const std::string& catalogueArg) {
  std::string cmd =
      "quorvel-report --trust-certificate " + fingerprint + " --server " + ShellQuote(name);
  if (!catalogueArg.empty()) cmd += " --catalogue " + ShellQuote(catalogueArg);
  return cmd;
}

int Usage(const std::string& text) {
  std::fprintf(stderr, "quorvel-report: %s\nTry 'quorvel-report --help'.\n", text.c_str());
  return reUsage;
}

// The stored server called name; an exit status when there is none to use.
std::optional<TNodeData> FindServer(Tdata& d, const std::string& name, int& status) {
  std::vector<TNodeData> found;
  for (const TCatalogueServer& s : ReadCatalogue(d))
    if (s.server.name == name) found.push_back(s.server);
  if (found.empty()) {
    status = Usage("no server named '" + name + "' (see quorvel-report --list)");
    return std::nullopt;
  }
  if (found.size() > 1) {
    status = Usage("several servers are named '" + name + "'; rename one in the program first");
    return std::nullopt;
  }
  if (found[0].server->ssl != "Y" && found[0].server->ssl != "T") {
    status = Usage("the server '" + name +
                   "' does not use SSL/TLS or StartTLS, so it has no certificate (set Security to "
                   "SSL/TLS or StartTLS in its properties)");
    return std::nullopt;
  }
  return found[0];
}

// Connects with TLS and lets any certificate through; the certificate seen,
// or nullopt after the failure has been reported.
std::optional<TPeerCertificate> FetchCertificate(const TNodeData& server) {
  const TServerNodeData& s = *server.server;
  TLDAPSend ldap;
  ldap.TargetHost = s.server;
  ldap.TargetPort = std::to_string(s.port);
  ApplyConnectionSettings(ldap, s.ssl, "simple");
  ldap.CertificateCheck = std::make_shared<TAcceptAnyCertificate>();
  if (!ldap.Connect()) {
    const TTCPBlockSocket* sock = ldap.Sock();
    std::string text = sock->LastErrorText();
    if (!sock->SSL()->LastErrorText().empty()) text += " (" + sock->SSL()->LastErrorText() + ")";
    LogError("Error connecting to \"" + s.server +
             "\" ErrorCode: " + std::to_string(sock->LastError()) + " ErrorDesc: " + text);
    return std::nullopt;
  }
  TPeerCertificate cert = ldap.Sock()->SSL()->PeerCertificate();
  if (cert.fingerprint.empty()) {
    LogError("The server \"" + s.server + "\" sent no certificate.");
    return std::nullopt;
  }
  return cert;
}

}  // namespace

std::string UntrustedCertificateMessage(const TTrustQuestion& q, const std::string& name,
                                        const std::string& catalogueArg) {
  const TPeerCertificate& c = q.cert;
  const std::string who = "The certificate of server \"" + name + "\" (" + q.server + ")";
  if (q.expired)
    return "The trusted certificate of server \"" + name + "\" (" + q.server +
           ") has expired since it was trusted: it was valid until " + c.notAfter + " (" +
           c.reason +
           "). Ask the directory's administrator for the server's new certificate; "
           "if this one is still the server's own, trust it again with: " +
           TrustCommand(c.fingerprint, name, catalogueArg);
  if (q.remembered.empty())
    return who + " is not trusted: " + c.reason + ". Its SHA-256 fingerprint is " + c.fingerprint +
           ". If that is the server's own certificate, trust it with: " +
           TrustCommand(c.fingerprint, name, catalogueArg);
  return who +
         " has CHANGED since it was trusted: the connection may be intercepted. Remembered "
         "SHA-256 fingerprint: " +
         q.remembered + "; presented: " + c.fingerprint + " (" + c.reason +
         "). If the server was really given a new certificate, trust it with: " +
         TrustCommand(c.fingerprint, name, catalogueArg);
}

int ShowCertificateCommand(Tdata& d, const std::string& name) {
  int status = reOk;
  const std::optional<TNodeData> server = FindServer(d, name, status);
  if (!server) return status;
  const std::optional<TPeerCertificate> cert = FetchCertificate(*server);
  if (!cert) return reConnect;
  const TServerNodeData& s = *server->server;
  std::string trusted = "no";
  for (const TTrustedCertificate& t : TrustedCertificates(d, server->id))
    if (t.fingerprint == cert->fingerprint && t.host == cert->host && t.port == cert->port)
      trusted = ExpiredSinceTrusted(t, *cert)
                    ? "no longer: trusted on " + t.trusted + ", it has expired since"
                    : "yes, since " + t.trusted;
  std::printf("Server:        %s (%s:%d)\n", name.c_str(), s.server.c_str(), s.port);
  std::printf("Subject:       %s\n", cert->subject.c_str());
  std::printf("Issuer:        %s\n", cert->issuer.c_str());
  std::printf("Valid from:    %s\n", cert->notBefore.c_str());
  std::printf("Valid until:   %s\n", cert->notAfter.c_str());
  std::printf("Issued for:    %s\n", cert->names.c_str());
  std::printf("Verification:  %s\n",
              cert->verifyError == 0 ? "verified" : ("failed: " + cert->reason).c_str());
  std::printf("Trusted:       %s\n", cert->verifyError == 0 ? "not needed" : trusted.c_str());
  std::printf("SHA-256 fingerprint: %s\n", cert->fingerprint.c_str());
  return std::fflush(stdout) == 0 ? reOk : reWrite;
}

int TrustCertificateCommand(Tdata& d, const std::string& name, const std::string& fingerprint) {
  const std::string wanted = ssl::NormalizeFingerprint(fingerprint);
  if (wanted.empty())
    return Usage("'" + fingerprint +
                 "' is not a SHA-256 fingerprint (32 octets in hexadecimal, with or without "
                 "colons)");
  int status = reOk;
  const std::optional<TNodeData> server = FindServer(d, name, status);
  if (!server) return status;
  const std::optional<TPeerCertificate> cert = FetchCertificate(*server);
  if (!cert) return reConnect;
  if (cert->fingerprint != wanted) {
    LogError("The server \"" + name + "\" presents a certificate with the SHA-256 fingerprint " +
             cert->fingerprint + ", not " + wanted +
             ": nothing was stored. Check the fingerprint with the server's administrator.");
    return reConnect;
  }
  std::string reason;
  if (!TrustCertificate(d, server->id, *cert, &reason)) {
    LogError("The certificate could not be stored in the catalogue: " + reason);
    return reWrite;
  }
  LogInfo("The certificate " + cert->fingerprint + " (" + cert->subject +
          ") is now trusted for server \"" + name + "\".");
  return reOk;
}

}  // namespace quorvel
