#include "net/ssllayer.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "net/blocksocket.h"
#include "net/certverify.h"
#include "net/opensslapi.h"

// ---------------------------------------------------------------------------
// The OpenSSL binding: our own declarations of the few entry points used, all
// looked up by name in libssl.so.3 / libcrypto.so.3 at run time.

namespace {

using quorvel::ssl::gApi;
using quorvel::ssl::OpenSslApi;
using quorvel::ssl::SslPtr;

constexpr int kErrNone = 0;
constexpr int kErrWantRead = 2;
constexpr int kErrWantWrite = 3;
constexpr int kErrSsl = 1;
constexpr int kErrZeroReturn = 6;
// The library's reason for a connection closed without close_notify.
constexpr unsigned long kLibSsl = 20;
constexpr unsigned long kReasonUnexpectedEof = 294;
constexpr int kCtrlClearMode = 78;
constexpr long kModeAutoRetry = 0x4;
constexpr int kVerifyNone = 0;

std::mutex gSslLock;
std::atomic<bool> gLoaded{false};
std::atomic<bool> gForceNone{false};

template <typename F>
bool Bind(void* lib, const char* name, F& fn) {
  fn = reinterpret_cast<F>(dlsym(lib, name));
  return fn != nullptr;
}

bool BindAll(OpenSslApi& a) {
  void* s = a.libssl;
  void* c = a.libcrypto;
  bool ok = true;
#define QV_BIND(lib, name) ok = Bind(lib, #name, a.name) && ok
  QV_BIND(s, TLS_client_method);
  QV_BIND(s, SSL_CTX_new);
  QV_BIND(s, SSL_CTX_free);
  QV_BIND(s, SSL_CTX_set_cipher_list);
  QV_BIND(s, SSL_CTX_set_verify);
  QV_BIND(s, SSL_CTX_set_default_passwd_cb);
  QV_BIND(s, SSL_CTX_set_default_passwd_cb_userdata);
  QV_BIND(s, SSL_new);
  QV_BIND(s, SSL_free);
  QV_BIND(s, SSL_set_fd);
  QV_BIND(s, SSL_connect);
  QV_BIND(s, SSL_shutdown);
  QV_BIND(s, SSL_write);
  QV_BIND(s, SSL_read);
  QV_BIND(s, SSL_get_error);
  QV_BIND(s, SSL_pending);
  QV_BIND(s, SSL_get_version);
  QV_BIND(s, SSL_get1_peer_certificate);
  QV_BIND(s, SSL_get_current_cipher);
  QV_BIND(s, SSL_CIPHER_get_name);
  QV_BIND(s, SSL_CIPHER_get_bits);
  QV_BIND(s, SSL_get_verify_result);
  QV_BIND(s, SSL_CTX_ctrl);
  QV_BIND(s, SSL_ctrl);
  QV_BIND(s, SSL_get0_param);
  QV_BIND(s, SSL_CTX_set_default_verify_paths);
  QV_BIND(s, SSL_set_verify);
  QV_BIND(s, SSL_set_ex_data);
  QV_BIND(s, SSL_get_ex_data);
  QV_BIND(s, SSL_get_ex_data_X509_STORE_CTX_idx);
  QV_BIND(c, OpenSSL_version);
  QV_BIND(c, ERR_get_error);
  QV_BIND(c, ERR_clear_error);
  QV_BIND(c, ERR_error_string_n);
  QV_BIND(c, X509_free);
  QV_BIND(c, X509_get_subject_name);
  QV_BIND(c, X509_get_issuer_name);
  QV_BIND(c, X509_NAME_oneline);
  QV_BIND(c, X509_digest);
  QV_BIND(c, EVP_get_digestbyname);
  QV_BIND(c, X509_print);
  QV_BIND(c, BIO_s_mem);
  QV_BIND(c, BIO_new);
  QV_BIND(c, BIO_ctrl);
  QV_BIND(c, BIO_free);
  QV_BIND(c, X509_get0_notBefore);
  QV_BIND(c, X509_get0_notAfter);
  QV_BIND(c, ASN1_TIME_to_tm);
  QV_BIND(c, X509_get_ext_by_NID);
  QV_BIND(c, X509_get_ext);
  QV_BIND(c, X509V3_EXT_print);
  QV_BIND(c, X509_verify_cert_error_string);
  QV_BIND(c, X509_VERIFY_PARAM_set1_host);
  QV_BIND(c, X509_VERIFY_PARAM_set1_ip_asc);
  QV_BIND(c, X509_STORE_CTX_get_ex_data);
  QV_BIND(c, X509_STORE_CTX_get_error);
  QV_BIND(c, X509_STORE_CTX_get_error_depth);
#undef QV_BIND
  return ok;
}

// Writing to a socket the peer has closed raises SIGPIPE; OpenSSL writes with
// plain write(). Block the signal on this thread around such calls and swallow
// one that arrived meanwhile, so the process-wide disposition stays untouched.
class SigPipeGuard {
 public:
  SigPipeGuard() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
  }
  ~SigPipeGuard() {
    if (!wasPending_) {
      sigset_t pending;
      sigpending(&pending);
      if (sigismember(&pending, SIGPIPE) == 1) {
        timespec zero{0, 0};
        sigtimedwait(&pipe_, nullptr, &zero);
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  SigPipeGuard(const SigPipeGuard&) = delete;
  SigPipeGuard& operator=(const SigPipeGuard&) = delete;

 private:
  sigset_t pipe_{}, old_{};
  bool wasPending_ = false;
};

const char kNotImplemented[] = "SLL is not implemented!";
const char kTimedOut[] = "No TLS data within the time-out";
const char kWriteTimedOut[] = "The server took no TLS data within the time-out";
const char kHandshakeTimedOut[] = "No answer to the TLS handshake within the time-out";

}  // namespace

namespace quorvel::ssl {
OpenSslApi gApi;

struct Connection {
  SslPtr ctx = nullptr;
  SslPtr ssl = nullptr;
  // Every failure the verification of the server's certificate met.
  std::vector<TVerifyFailure> failures;
  // The socket made non-blocking for the connection, and its flags before.
  int fd = -1;
  int savedFlags = -1;
  // The end or error a read met after it had already taken records: that
  // read hands out the records, the next one reports this (PendingBytes
  // counts it, so the next read comes at once rather than after a wait).
  bool held = false;
  int heldError = 0;
  int heldReturn = 0;
};
}  // namespace quorvel::ssl

bool InitSSLInterface() {
  std::lock_guard<std::mutex> lock(gSslLock);
  if (gLoaded) return true;
  OpenSslApi a;
  a.libcrypto = dlopen("libcrypto.so.3", RTLD_NOW | RTLD_LOCAL);
  a.libssl = dlopen("libssl.so.3", RTLD_NOW | RTLD_LOCAL);
  if (!a.libssl || !a.libcrypto || !BindAll(a)) {
    if (a.libssl) dlclose(a.libssl);
    if (a.libcrypto) dlclose(a.libcrypto);
    return false;
  }
  gApi = a;
  gLoaded = true;
  return true;
}

void DestroySSLInterface() {
  std::lock_guard<std::mutex> lock(gSslLock);
  if (!gLoaded) return;
  gLoaded = false;
  // The libraries stay mapped: OpenSSL 3 installs exit handlers of its own and
  // must not be unmapped under them. Forgetting the entries is enough for
  // sockets made later to get TSSLNone.
  gApi = OpenSslApi{};
}

bool IsSSLloaded() {
  return gLoaded;
}

namespace quorvel {
void ForceSSLNone(bool on) {
  gForceNone = on;
}

std::unique_ptr<TCustomSSL> MakeSSLPlugin(TTCPBlockSocket* socket) {
  if (!gForceNone && InitSSLInterface()) return std::make_unique<TSSLOpenSSL>(socket);
  return std::make_unique<TSSLNone>(socket);
}
}  // namespace quorvel

// ---------------------------------------------------------------------------

TCustomSSL::TCustomSSL(TTCPBlockSocket* socket) : FSocket(socket) {}
TCustomSSL::~TCustomSSL() = default;

void TCustomSSL::NotImplemented() {
  FLastError = -1;
  FLastErrorText = kNotImplemented;
}

bool TCustomSSL::MakeSelfSignedCert(const std::string&) {
  NotImplemented();
  return false;
}

void TCustomSSL::CopySettings(const TCustomSSL& o) {
  SSLType = o.SSLType;
  KeyPassword = o.KeyPassword;
  Username = o.Username;
  Password = o.Password;
  Ciphers = o.Ciphers;
  CertificateFile = o.CertificateFile;
  PrivateKeyFile = o.PrivateKeyFile;
  Certificate = o.Certificate;
  PrivateKey = o.PrivateKey;
  PFX = o.PFX;
  PFXfile = o.PFXfile;
  TrustCertificateFile = o.TrustCertificateFile;
  TrustCertificate = o.TrustCertificate;
  CertCA = o.CertCA;
  CertCAFile = o.CertCAFile;
  VerifyCert = o.VerifyCert;
  SSHChannelType = o.SSHChannelType;
  SSHChannelArg1 = o.SSHChannelArg1;
  SSHChannelArg2 = o.SSHChannelArg2;
  VerifyHost = o.VerifyHost;
  CertificateCheck = o.CertificateCheck;
  Timeout = o.Timeout;
}

std::string TCustomSSL::LibraryVersion() {
  return "";
}
std::string TCustomSSL::LibraryName() {
  return "";
}
bool TCustomSSL::ClientHandshake() {
  NotImplemented();
  return false;
}
bool TCustomSSL::ServerHandshake() {
  NotImplemented();
  return false;
}
bool TCustomSSL::CloseTls() {
  NotImplemented();
  return false;
}
bool TCustomSSL::CloseTlsBothWays() {
  NotImplemented();
  return false;
}
int TCustomSSL::WriteData(const char*, int) {
  NotImplemented();
  return -1;
}
int TCustomSSL::ReadData(char*, int) {
  NotImplemented();
  return -1;
}
int TCustomSSL::PendingBytes() {
  return 0;
}
std::string TCustomSSL::ProtocolVersionText() {
  return "";
}
std::string TCustomSSL::PeerSubject() {
  return "";
}
std::string TCustomSSL::PeerIssuer() {
  return "";
}
std::string TCustomSSL::PeerCommonName() {
  return "";
}
std::string TCustomSSL::PeerFingerprint() {
  return "";
}
std::string TCustomSSL::CertificateInfo() {
  return "";
}
std::string TCustomSSL::CipherName() {
  return "";
}
int TCustomSSL::CipherBits() {
  return 0;
}
int TCustomSSL::CipherAlgorithmBits() {
  return 0;
}
int32_t TCustomSSL::VerifyResult() {
  return 0;
}

// ---------------------------------------------------------------------------

namespace {
// Copies the key password into OpenSSL's buffer (cut to size - 1).
int PasswordCallback(char* buf, int size, int, void* userdata) {
  auto* self = static_cast<TCustomSSL*>(userdata);
  if (!self || size <= 0) return 0;
  int n = static_cast<int>(std::min<size_t>(self->KeyPassword.size(), size_t(size - 1)));
  std::memcpy(buf, self->KeyPassword.data(), static_cast<size_t>(n));
  buf[n] = '\0';
  return n;
}
}  // namespace

TSSLOpenSSL::TSSLOpenSSL(TTCPBlockSocket* socket) : TCustomSSL(socket) {
  Ciphers = "DEFAULT";
}

TSSLOpenSSL::~TSSLOpenSSL() {
  Release();
}

std::string TSSLOpenSSL::LibraryVersion() {
  return gLoaded ? std::string(gApi.OpenSSL_version(0)) : std::string();
}

std::string TSSLOpenSSL::LibraryName() {
  return "ssl_openssl";
}

void TSSLOpenSSL::ReadError() {
  if (!gLoaded) {
    NotImplemented();
    return;
  }
  unsigned long e = gApi.ERR_get_error();
  gApi.ERR_clear_error();
  FLastError = static_cast<int32_t>(e);
  FLastErrorText.clear();
  if (e != 0) {
    char buf[256] = {};
    gApi.ERR_error_string_n(e, buf, sizeof buf);
    FLastErrorText = buf;
  }
}

void TSSLOpenSSL::Release() {
  if (FConn && gLoaded) {
    if (FConn->ssl) gApi.SSL_free(FConn->ssl);
    if (FConn->ctx) gApi.SSL_CTX_free(FConn->ctx);
  }
  // Back to a blocking socket, unless the handle is no longer the one we changed.
  if (FConn && FConn->fd >= 0 && FConn->savedFlags >= 0 && FSocket &&
      FSocket->Socket() == FConn->fd)
    ::fcntl(FConn->fd, F_SETFL, FConn->savedFlags);
  FConn.reset();
  FSSLEnabled = false;
}

bool TSSLOpenSSL::Prepare() {
  Release();
  FLastError = 0;
  FLastErrorText.clear();
  if (!gLoaded) {
    NotImplemented();
    return false;
  }
  // Only "negotiate the best version" is offered: the old fixed-version methods
  // no longer exist in the library.
  if (SSLType != LT_all) {
    FLastError = -1;
    FLastErrorText = "Unsupported SSL/TLS type";
    return false;
  }
  gApi.ERR_clear_error();
  FConn = std::make_unique<quorvel::ssl::Connection>();
  FConn->ctx = gApi.SSL_CTX_new(gApi.TLS_client_method());
  if (!FConn->ctx) {
    ReadError();
    Release();
    return false;
  }
  if (!Ciphers.empty() && gApi.SSL_CTX_set_cipher_list(FConn->ctx, Ciphers.c_str()) != 1) {
    ReadError();
    Release();
    return false;
  }
  // The handshake never stops on a certificate by itself: OpenSSL verifies and
  // records the outcome, and ClientHandshake decides afterwards, so that a
  // certificate the user trusts can still connect.
  gApi.SSL_CTX_set_verify(FConn->ctx, kVerifyNone, nullptr);
  if (VerifyCert && gApi.SSL_CTX_set_default_verify_paths(FConn->ctx) != 1) gApi.ERR_clear_error();
  // A read that only met handshake records (session tickets) returns to us
  // instead of blocking for data, so the socket's time-out keeps bounding it.
  gApi.SSL_CTX_ctrl(FConn->ctx, kCtrlClearMode, kModeAutoRetry, nullptr);
  gApi.SSL_CTX_set_default_passwd_cb(FConn->ctx, &PasswordCallback);
  gApi.SSL_CTX_set_default_passwd_cb_userdata(FConn->ctx, this);
  // Client certificates and keys are not supported: with the settings left
  // empty nothing would be loaded anyway.
  if (!CertificateFile.empty() || !PrivateKeyFile.empty() || !Certificate.empty() ||
      !PrivateKey.empty() || !PFX.empty() || !PFXfile.empty() || !CertCAFile.empty()) {
    FLastError = -1;
    FLastErrorText = "Client certificates are not supported";
    Release();
    return false;
  }
  FConn->ssl = gApi.SSL_new(FConn->ctx);
  if (!FConn->ssl) {
    ReadError();
    Release();
    return false;
  }
  return true;
}

bool TSSLOpenSSL::WaitSocket(bool forRead, int timeout, const char* timedOutText) {
  if (!FSocket) return true;  // the next OpenSSL call reports the missing socket
  using quorvel::net::TWaitEnd;
  const TWaitEnd end =
      FSocket->WaitRule().Wait(FSocket->Socket(), short(forRead ? POLLIN : POLLOUT), timeout);
  // Ready, or a failed poll whose cause the next OpenSSL call reports.
  if (end == TWaitEnd::Ready || end == TWaitEnd::Failed) return true;
  if (end == TWaitEnd::Cancelled) {
    FStopped = true;
    FLastError = -1;
    FLastErrorText = "Stopped";
  } else {
    TimeOut(timedOutText);
  }
  return false;
}

void TSSLOpenSSL::TimeOut(const char* text) {
  FTimedOut = true;
  FLastError = -1;
  FLastErrorText = text;
}

bool TSSLOpenSSL::ClientHandshake() {
  FTimedOut = false;
  FStopped = false;
  FPeer = TPeerCertificate{};
  if (!FSocket || !FSocket->HasSocket()) {
    FLastError = -1;
    FLastErrorText = "No socket";
    return false;
  }
  if (!Prepare()) return false;
  SigPipeGuard guard;
  const int fd = FSocket->Socket();
  if (gApi.SSL_set_fd(FConn->ssl, fd) < 1) {
    ReadError();
    if (FLastError == 0) FLastError = -1;
    Release();
    return false;
  }
  if (VerifyCert && !quorvel::ssl::CollectFailures(FConn->ssl, &FConn->failures)) {
    gApi.ERR_clear_error();
    FLastError = -1;
    FLastErrorText = "The server's certificate cannot be verified";
    Release();
    return false;
  }
  if (VerifyCert && !quorvel::ssl::ExpectHost(FConn->ssl, VerifyHost)) {
    gApi.ERR_clear_error();
    FLastError = -1;
    FLastErrorText = "The host name \"" + VerifyHost + "\" cannot be checked against a certificate";
    Release();
    return false;
  }
  // Every wait from here on is a poll() with a limit, never a blocking recv.
  FConn->fd = fd;
  FConn->savedFlags = ::fcntl(fd, F_GETFL, 0);
  if (FConn->savedFlags >= 0) ::fcntl(fd, F_SETFL, FConn->savedFlags | O_NONBLOCK);
  const uint32_t start = quorvel::net::TickCount();
  for (;;) {
    const int r = gApi.SSL_connect(FConn->ssl);
    if (r == 1) break;
    const int e = gApi.SSL_get_error(FConn->ssl, r);
    if (e == kErrWantRead || e == kErrWantWrite) {
      const int left = quorvel::net::TimeLeft(start, Timeout);
      if (left != 0 && WaitSocket(e == kErrWantRead, left, kHandshakeTimedOut)) continue;
      if (left == 0) TimeOut(kHandshakeTimedOut);
      gApi.ERR_clear_error();
      Release();
      return false;
    }
    ReadError();
    if (FLastError == 0) {
      FLastError = -1;
      FLastErrorText = "SSL/TLS handshake failed";
    }
    Release();
    return false;
  }
  const bool hasCert =
      quorvel::ssl::ReadPeerCertificate(FConn->ssl, VerifyHost, FConn->failures, FPeer);
  FPeer.port = FSocket->GetRemoteSinPort();
  if (VerifyCert && (!hasCert || FPeer.verifyError != 0)) {
    if (!hasCert) FPeer.reason = "the server sent no certificate";
    std::string refusal;
    const bool accepted =
        hasCert && CertificateCheck && CertificateCheck->AcceptUnverified(FPeer, refusal);
    if (!accepted) {
      Release();
      FLastError = -1;
      FLastErrorText = refusal.empty()
                           ? "The server's certificate could not be verified: " + FPeer.reason
                           : refusal;
      return false;
    }
  }
  FSSLEnabled = true;
  return true;
}

bool TSSLOpenSSL::CloseTls() {
  if (FConn && FConn->ssl && gLoaded) {
    SigPipeGuard guard;
    gApi.SSL_shutdown(FConn->ssl);
  }
  Release();
  return true;
}

bool TSSLOpenSSL::CloseTlsBothWays() {
  if (FConn && FConn->ssl && gLoaded) {
    SigPipeGuard guard;
    if (gApi.SSL_shutdown(FConn->ssl) == 0) {
      if (FSocket && FSocket->HasSocket()) ::shutdown(FSocket->Socket(), SHUT_WR);
      gApi.SSL_shutdown(FConn->ssl);
    }
  }
  Release();
  return true;
}

int TSSLOpenSSL::WriteData(const char* buffer, int length) {
  FLastError = 0;
  FTimedOut = false;
  FStopped = false;
  FLastErrorText.clear();
  if (!FConn || !FConn->ssl || !gLoaded) {
    NotImplemented();
    return -1;
  }
  if (length <= 0) return 0;
  SigPipeGuard guard;
  for (;;) {
    int r = gApi.SSL_write(FConn->ssl, buffer, length);
    int e = gApi.SSL_get_error(FConn->ssl, r);
    if (e == kErrNone) return r;
    if (e == kErrWantRead || e == kErrWantWrite) {
      // The server takes nothing (its window is full): wait, bounded.
      if (WaitSocket(e == kErrWantRead, Timeout, kWriteTimedOut)) continue;
      return -1;
    }
    if (e == kErrZeroReturn) return 0;
    gApi.ERR_clear_error();
    FLastError = e;
    FLastErrorText = "SSL/TLS write failed";
    return r;
  }
}

int TSSLOpenSSL::ReadData(char* buffer, int length) {
  FLastError = 0;
  FTimedOut = false;
  FStopped = false;
  FLastErrorText.clear();
  if (!FConn || !FConn->ssl || !gLoaded) {
    NotImplemented();
    return -1;
  }
  if (length <= 0) return 0;
  if (FConn->held) {
    FConn->held = false;
    if (FConn->heldError == kErrZeroReturn) return 0;
    FLastError = FConn->heldError;
    FLastErrorText = "SSL/TLS read failed";
    return FConn->heldReturn;
  }
  SigPipeGuard guard;
  // A server writes many small records (an entry each): every record that has
  // already arrived whole is taken in this one call, not one call per record.
  int total = 0;
  for (;;) {
    int r = gApi.SSL_read(FConn->ssl, buffer + total, length - total);
    int e = gApi.SSL_get_error(FConn->ssl, r);
    if (e == kErrNone) {
      total += r;
      if (total >= length) return total;
      continue;
    }
    if (total > 0) {
      // What came before the wait, the end or the error is handed out now.
      // A wait, or the socket's own end or failure, is met again by the next
      // read; close_notify or a bad record is not (its record has been
      // consumed), so it is held for that read.
      bool fromRecord = e == kErrZeroReturn;
      if (e == kErrSsl) {
        const unsigned long code = gApi.ERR_get_error();
        fromRecord =
            !(((code >> 23) & 0xFF) == kLibSsl && (code & 0x7FFFFF) == kReasonUnexpectedEof);
      }
      if (fromRecord) {
        FConn->held = true;
        FConn->heldError = e;
        FConn->heldReturn = r;
      }
      gApi.ERR_clear_error();
      return total;
    }
    if (e == kErrWantRead || e == kErrWantWrite) {
      // Wait (bounded by the receive time-out) for the rest of a record.
      if (WaitSocket(e == kErrWantRead, FSocket ? FSocket->ReadTimeout() : -1, kTimedOut)) continue;
      return -1;
    }
    if (e == kErrZeroReturn) return 0;
    gApi.ERR_clear_error();
    FLastError = e;
    FLastErrorText = "SSL/TLS read failed";
    return r;
  }
}

int TSSLOpenSSL::PendingBytes() {
  if (!FConn || !FConn->ssl || !gLoaded) return 0;
  if (FConn->held) return 1;
  return gApi.SSL_pending(FConn->ssl);
}

std::string TSSLOpenSSL::ProtocolVersionText() {
  if (!FConn || !FConn->ssl || !gLoaded) return "";
  const char* v = gApi.SSL_get_version(FConn->ssl);
  return v ? v : "";
}

namespace {
// Runs fn on the peer certificate (freed afterwards); empty when there is none.
template <typename Fn>
std::string WithPeerCert(quorvel::ssl::Connection* c, Fn fn) {
  if (!c || !c->ssl || !gLoaded) return "";
  SslPtr cert = gApi.SSL_get1_peer_certificate(c->ssl);
  if (!cert) return "";
  std::string out = fn(cert);
  gApi.X509_free(cert);
  return out;
}
}  // namespace

std::string TSSLOpenSSL::PeerSubject() {
  return WithPeerCert(
      FConn.get(), [](SslPtr c) { return quorvel::ssl::NameLine(gApi.X509_get_subject_name(c)); });
}

std::string TSSLOpenSSL::PeerIssuer() {
  return WithPeerCert(
      FConn.get(), [](SslPtr c) { return quorvel::ssl::NameLine(gApi.X509_get_issuer_name(c)); });
}

std::string TSSLOpenSSL::PeerCommonName() {
  return quorvel::ssl::CommonNameOf(PeerSubject());
}

std::string TSSLOpenSSL::PeerFingerprint() {
  return WithPeerCert(FConn.get(), [](SslPtr c) {
    unsigned char md[64] = {};
    unsigned len = 0;
    SslPtr md5 = gApi.EVP_get_digestbyname("MD5");
    if (!md5 || gApi.X509_digest(c, md5, md, &len) != 1) return std::string();
    return std::string(reinterpret_cast<char*>(md), std::min<unsigned>(len, sizeof md));
  });
}

std::string TSSLOpenSSL::CertificateInfo() {
  return WithPeerCert(FConn.get(), [](SslPtr c) {
    SslPtr bio = gApi.BIO_new(gApi.BIO_s_mem());
    if (!bio) return std::string();
    const std::string text = gApi.X509_print(bio, c) == 1 ? quorvel::ssl::MemoryBioText(bio) : "";
    gApi.BIO_free(bio);
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (char ch : text) {
      if (ch == '\n')
        out += "\r\n";
      else if (ch != '\r')
        out += ch;
    }
    return out;
  });
}

std::string TSSLOpenSSL::CipherName() {
  if (!FConn || !FConn->ssl || !gLoaded) return "";
  SslPtr c = gApi.SSL_get_current_cipher(FConn->ssl);
  const char* n = c ? gApi.SSL_CIPHER_get_name(c) : nullptr;
  return n ? n : "";
}

int TSSLOpenSSL::CipherBits() {
  if (!FConn || !FConn->ssl || !gLoaded) return 0;
  SslPtr c = gApi.SSL_get_current_cipher(FConn->ssl);
  int alg = 0;
  return c ? gApi.SSL_CIPHER_get_bits(c, &alg) : 0;
}

int TSSLOpenSSL::CipherAlgorithmBits() {
  if (!FConn || !FConn->ssl || !gLoaded) return 0;
  SslPtr c = gApi.SSL_get_current_cipher(FConn->ssl);
  int alg = 0;
  if (c) gApi.SSL_CIPHER_get_bits(c, &alg);
  return alg;
}

int32_t TSSLOpenSSL::VerifyResult() {
  if (!FConn || !FConn->ssl || !gLoaded) return 1;
  return static_cast<int32_t>(gApi.SSL_get_verify_result(FConn->ssl));
}
