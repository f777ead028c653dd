// Certificate details and the verification rules of the TLS layer: the host
// name the certificate must carry, the SHA-256 fingerprint users compare, and
// the verification error in words a user can act on.
#include "net/certverify.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "net/opensslapi.h"

namespace quorvel::ssl {
namespace {

// OpenSSL's verification error numbers named here.
constexpr int32_t kUnableToGetIssuer = 2;
constexpr int32_t kNotYetValid = 9;
constexpr int32_t kExpired = 10;
constexpr int32_t kDepthZeroSelfSigned = 18;
constexpr int32_t kSelfSignedInChain = 19;
constexpr int32_t kUnableToGetIssuerLocally = 20;
constexpr int32_t kUnableToVerifyLeaf = 21;
constexpr int32_t kHostnameMismatch = 62;
constexpr int32_t kEmailMismatch = 63;
constexpr int32_t kIpMismatch = 64;

constexpr int kNidSubjectAltName = 85;
// The connection's own slot for the application's data (SSL_set_app_data).
constexpr int kAppDataIndex = 0;
// More than any real chain produces; a hostile chain cannot grow the list.
constexpr size_t kMaxFailures = 32;
constexpr int kCtrlSetTlsextHostname = 55;
constexpr long kTlsextNametypeHostName = 0;

std::string TimeText(SslPtr asn1time) {
  std::tm tm{};
  if (!asn1time || gApi.ASN1_TIME_to_tm(asn1time, &tm) != 1) return "";
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d UTC", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

// The subjectAltName extension as OpenSSL prints it ("DNS:a, IP Address:b").
std::string AltNames(SslPtr cert) {
  const int idx = gApi.X509_get_ext_by_NID(cert, kNidSubjectAltName, -1);
  if (idx < 0) return "";
  SslPtr ext = gApi.X509_get_ext(cert, idx);
  SslPtr bio = gApi.BIO_new(gApi.BIO_s_mem());
  if (!ext || !bio) {
    if (bio) gApi.BIO_free(bio);
    return "";
  }
  const std::string text =
      gApi.X509V3_EXT_print(bio, ext, 0, 0) == 1 ? MemoryBioText(bio) : std::string();
  gApi.BIO_free(bio);
  return text;
}

// An IPv6 literal's zone ("fe80::1%eth0") names a local interface, which no
// certificate lists.
std::string WithoutZone(const std::string& host) {
  return host.substr(0, host.find('%'));
}

std::string Fingerprint(SslPtr cert) {
  unsigned char md[64] = {};
  unsigned len = 0;
  SslPtr sha256 = gApi.EVP_get_digestbyname("SHA256");
  if (!sha256 || gApi.X509_digest(cert, sha256, md, &len) != 1 || len > sizeof md) return "";
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned i = 0; i < len; ++i) {
    if (i) out += ':';
    out += kHex[md[i] >> 4];
    out += kHex[md[i] & 15];
  }
  return out;
}

// Called by OpenSSL for every certificate of the chain and every failure.
// It records the failure and answers "go on", so that the verification
// reaches the dates and the host after a trust failure. The connection itself
// never stops here: the handshake runs without peer verification and the TLS
// layer decides afterwards from everything recorded.
int RecordFailure(int ok, SslPtr store) {
  if (ok) return 1;
  SslPtr ssl = gApi.X509_STORE_CTX_get_ex_data(store, gApi.SSL_get_ex_data_X509_STORE_CTX_idx());
  auto* sink =
      ssl ? static_cast<std::vector<TVerifyFailure>*>(gApi.SSL_get_ex_data(ssl, kAppDataIndex))
          : nullptr;
  if (!sink) return 1;
  const TVerifyFailure f{gApi.X509_STORE_CTX_get_error(store),
                         gApi.X509_STORE_CTX_get_error_depth(store)};
  if (sink->size() < kMaxFailures && std::find(sink->begin(), sink->end(), f) == sink->end())
    sink->push_back(f);
  return 1;
}

// The order failures are told in: trust, then dates, then host.
int Group(int32_t code) {
  switch (code) {
    case kNotYetValid:
    case kExpired:
      return 1;
    case kHostnameMismatch:
    case kEmailMismatch:
    case kIpMismatch:
      return 2;
    default:
      return 0;
  }
}

}  // namespace

std::string NameLine(void* name) {
  if (!name) return "";
  char buf[4096] = {};
  if (!gApi.X509_NAME_oneline(name, buf, sizeof buf)) return "";
  return buf;
}

std::string CommonNameOf(const std::string& subject) {
  auto p = subject.find("/CN=");
  if (p == std::string::npos) return "";
  std::string cn = subject.substr(p + 4);
  cn = cn.substr(0, cn.find('/'));
  const char* ws = " \t\r\n";
  auto b = cn.find_first_not_of(ws);
  if (b == std::string::npos) return "";
  auto e = cn.find_last_not_of(ws);
  return cn.substr(b, e - b + 1);
}

std::string NormalizeFingerprint(const std::string& input) {
  // The whole line of `openssl x509 -fingerprint -sha256` is accepted too.
  std::string text = input;
  if (auto eq = text.rfind('='); eq != std::string::npos) text = text.substr(eq + 1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.erase(0, 1);
  const bool colons = text.find(':') != std::string::npos;
  if (text.size() != (colons ? 95u : 64u)) return "";
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const bool separator = colons && i % 3 == 2;
    if (separator ? c != ':' : !std::isxdigit(c)) return "";
    if (!separator && !colons && i > 0 && i % 2 == 0) out += ':';
    out += static_cast<char>(std::toupper(c));
  }
  return out;
}

std::string VerifyReason(int32_t code, const TPeerCertificate& cert, int depth) {
  if (depth > 0 && code == kExpired) return "a certificate of its issuing authorities has expired";
  if (depth > 0 && code == kNotYetValid)
    return "a certificate of its issuing authorities is not valid yet";
  switch (code) {
    case 0:
      return "";
    case kDepthZeroSelfSigned:
    case kSelfSignedInChain:
      return "self-signed";
    case kHostnameMismatch:
    case kEmailMismatch:
    case kIpMismatch:
      return "issued for another host: " + (cert.names.empty() ? std::string("?") : cert.names);
    case kExpired:
      return "expired on " + cert.notAfter;
    case kNotYetValid:
      return "not valid before " + cert.notBefore;
    case kUnableToGetIssuer:
    case kUnableToGetIssuerLocally:
    case kUnableToVerifyLeaf:
      return "issued by an authority that is not trusted: " + cert.issuer;
    default: {
      const char* t =
          gApi.X509_verify_cert_error_string ? gApi.X509_verify_cert_error_string(code) : nullptr;
      return t ? std::string(t) : "verification error " + std::to_string(code);
    }
  }
}

std::string VerifyReasons(const TPeerCertificate& cert) {
  std::vector<TVerifyFailure> sorted = cert.failures;
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const TVerifyFailure& a, const TVerifyFailure& b) {
                     return Group(a.code) < Group(b.code);
                   });
  std::vector<std::string> told;
  std::string out;
  for (const TVerifyFailure& f : sorted) {
    const std::string text = VerifyReason(f.code, cert, f.depth);
    if (text.empty() || std::find(told.begin(), told.end(), text) != told.end()) continue;
    told.push_back(text);
    if (!out.empty()) out += "; ";
    out += text;
  }
  return out;
}

bool HasExpired(const TPeerCertificate& cert) {
  return std::find(cert.failures.begin(), cert.failures.end(), TVerifyFailure{kExpired, 0}) !=
         cert.failures.end();
}

bool IsAddressLiteral(const std::string& text) {
  unsigned char buf[16];
  const std::string host = WithoutZone(text);
  return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

bool ExpectHost(void* ssl, const std::string& host) {
  if (!ssl || host.empty()) return true;
  SslPtr param = gApi.SSL_get0_param(ssl);
  if (!param) return false;
  if (IsAddressLiteral(host))
    return gApi.X509_VERIFY_PARAM_set1_ip_asc(param, WithoutZone(host).c_str()) == 1;
  gApi.SSL_ctrl(ssl, kCtrlSetTlsextHostname, kTlsextNametypeHostName,
                const_cast<char*>(host.c_str()));
  return gApi.X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size()) == 1;
}

bool CollectFailures(void* ssl, std::vector<TVerifyFailure>* sink) {
  if (!ssl || !sink) return false;
  sink->clear();
  if (gApi.SSL_set_ex_data(ssl, kAppDataIndex, sink) != 1) return false;
  gApi.SSL_set_verify(ssl, 0, &RecordFailure);
  return true;
}

bool ReadPeerCertificate(void* ssl, const std::string& host,
                         const std::vector<TVerifyFailure>& failures, TPeerCertificate& out) {
  out = TPeerCertificate{};
  out.host = host;
  if (!ssl) return false;
  SslPtr cert = gApi.SSL_get1_peer_certificate(ssl);
  if (!cert) return false;
  out.subject = NameLine(gApi.X509_get_subject_name(cert));
  out.issuer = NameLine(gApi.X509_get_issuer_name(cert));
  out.notBefore = TimeText(gApi.X509_get0_notBefore(cert));
  out.notAfter = TimeText(gApi.X509_get0_notAfter(cert));
  out.names = AltNames(cert);
  if (out.names.empty()) {
    const std::string cn = CommonNameOf(out.subject);
    if (!cn.empty()) out.names = "CN=" + cn;
  }
  out.fingerprint = Fingerprint(cert);
  gApi.X509_free(cert);
  out.verifyError = static_cast<int32_t>(gApi.SSL_get_verify_result(ssl));
  out.failures = failures;
  // The outcome counts even if the list missed it.
  if (out.verifyError != 0 && out.failures.empty()) out.failures.push_back({out.verifyError, 0});
  if (out.verifyError == 0 && !out.failures.empty()) out.verifyError = out.failures.front().code;
  out.reason = VerifyReasons(out);
  return true;
}

}  // namespace quorvel::ssl
