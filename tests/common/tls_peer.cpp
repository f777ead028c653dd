#include "common/tls_peer.h"

#include "common/loopback.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>

#include "common/slapd_env.h"

namespace quorvel::test {

namespace {

enum { kRead, kSend, kHalf, kDamaged, kCloseNotify, kHangUp, kSleep, kTrickle };
constexpr int kWantRead = 2;
constexpr int kFiletypePem = 1;
constexpr int kBioCtrlPending = 10;
std::mutex gErrorLock;
}  // namespace

// The server side of the session: OpenSSL with memory BIOs, so that the
// peer decides which encrypted octets go out and when.
struct TlsPeer::Tls {
  void* ssl_lib = nullptr;
  void* (*TLS_server_method)() = nullptr;
  void* (*SSL_CTX_new)(void*) = nullptr;
  void (*SSL_CTX_free)(void*) = nullptr;
  int (*SSL_CTX_use_certificate_chain_file)(void*, const char*) = nullptr;
  int (*SSL_CTX_use_PrivateKey_file)(void*, const char*, int) = nullptr;
  void* (*SSL_new)(void*) = nullptr;
  void (*SSL_free)(void*) = nullptr;
  void (*SSL_set_bio)(void*, void*, void*) = nullptr;
  void (*SSL_set_accept_state)(void*) = nullptr;
  int (*SSL_do_handshake)(void*) = nullptr;
  int (*SSL_read)(void*, void*, int) = nullptr;
  int (*SSL_write)(void*, const void*, int) = nullptr;
  int (*SSL_get_error)(void*, int) = nullptr;
  int (*SSL_shutdown)(void*) = nullptr;
  void* (*BIO_s_mem)() = nullptr;
  void* (*BIO_new)(void*) = nullptr;
  int (*BIO_read)(void*, void*, int) = nullptr;
  int (*BIO_write)(void*, const void*, int) = nullptr;
  long (*BIO_ctrl)(void*, int, long, void*) = nullptr;

  void* ctx = nullptr;
  void* ssl = nullptr;
  void* rbio = nullptr;  // octets from the client, owned by ssl
  void* wbio = nullptr;  // octets for the client, owned by ssl
  int fd = -1;

  bool Load() {
    ssl_lib = dlopen("libssl.so.3", RTLD_NOW | RTLD_LOCAL);
    if (!ssl_lib) return false;
    bool ok = true;
    auto bind = [&](auto& fn, const char* name) {
      fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(ssl_lib, name));
      ok = ok && fn;
    };
    bind(TLS_server_method, "TLS_server_method");
    bind(SSL_CTX_new, "SSL_CTX_new");
    bind(SSL_CTX_free, "SSL_CTX_free");
    bind(SSL_CTX_use_certificate_chain_file, "SSL_CTX_use_certificate_chain_file");
    bind(SSL_CTX_use_PrivateKey_file, "SSL_CTX_use_PrivateKey_file");
    bind(SSL_new, "SSL_new");
    bind(SSL_free, "SSL_free");
    bind(SSL_set_bio, "SSL_set_bio");
    bind(SSL_set_accept_state, "SSL_set_accept_state");
    bind(SSL_do_handshake, "SSL_do_handshake");
    bind(SSL_read, "SSL_read");
    bind(SSL_write, "SSL_write");
    bind(SSL_get_error, "SSL_get_error");
    bind(SSL_shutdown, "SSL_shutdown");
    // libssl depends on libcrypto, so the BIO functions resolve through it.
    bind(BIO_s_mem, "BIO_s_mem");
    bind(BIO_new, "BIO_new");
    bind(BIO_read, "BIO_read");
    bind(BIO_write, "BIO_write");
    bind(BIO_ctrl, "BIO_ctrl");
    return ok;
  }
  ~Tls() {
    if (ssl) SSL_free(ssl);
    if (ctx) SSL_CTX_free(ctx);
    if (fd >= 0) ::close(fd);
  }
  // Everything OpenSSL produced so far, taken out of the write BIO.
  std::string Output() {
    std::string out;
    char buf[16384];
    while (BIO_ctrl(wbio, kBioCtrlPending, 0, nullptr) > 0) {
      const int n = BIO_read(wbio, buf, sizeof buf);
      if (n <= 0) break;
      out.append(buf, static_cast<size_t>(n));
    }
    return out;
  }
};

TlsPeer::TlsPeer(std::string certFile, std::string keyFile)
    : cert_(std::move(certFile)), key_(std::move(keyFile)), tls_(std::make_unique<Tls>()) {}

TlsPeer::~TlsPeer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listen_ >= 0) ::close(listen_);
}

TlsPeer& TlsPeer::ReadMessage() {
  steps_.push_back({kRead, {}, 0});
  return *this;
}
TlsPeer& TlsPeer::Send(std::string plain) {
  steps_.push_back({kSend, std::move(plain), 0});
  return *this;
}
TlsPeer& TlsPeer::SendHalfRecord(std::string plain) {
  steps_.push_back({kHalf, std::move(plain), 0});
  return *this;
}
TlsPeer& TlsPeer::SendWithDamagedRecord(std::string plain) {
  steps_.push_back({kDamaged, std::move(plain), 0});
  return *this;
}
TlsPeer& TlsPeer::SendWithCloseNotify(std::string plain) {
  steps_.push_back({kCloseNotify, std::move(plain), 0});
  return *this;
}
TlsPeer& TlsPeer::SendThenHangUp(std::string plain) {
  steps_.push_back({kHangUp, std::move(plain), 0});
  return *this;
}
TlsPeer& TlsPeer::SendTrickled(std::string plain, int everyMs) {
  steps_.push_back({kTrickle, std::move(plain), everyMs});
  return *this;
}
TlsPeer& TlsPeer::Sleep(int ms) {
  steps_.push_back({kSleep, {}, ms});
  return *this;
}

std::string TlsPeer::Error() const {
  std::lock_guard<std::mutex> lock(gErrorLock);
  return error_;
}

bool TlsPeer::Start(int port) {
  Tls& t = *tls_;
  if (!t.Load()) {
    error_ = "OpenSSL could not be loaded";
    return false;
  }
  t.ctx = t.SSL_CTX_new(t.TLS_server_method());
  if (!t.ctx || t.SSL_CTX_use_certificate_chain_file(t.ctx, cert_.c_str()) != 1 ||
      t.SSL_CTX_use_PrivateKey_file(t.ctx, key_.c_str(), kFiletypePem) != 1) {
    error_ = "cannot load " + cert_ + " / " + key_;
    return false;
  }
  listen_ = ListenOnLoopback(port, 4, port_);
  if (listen_ < 0) return false;
  deadline_ = NowMs() + TimeLimitMs;
  thread_ = std::thread([this] { Run(); });
  return true;
}

bool TlsPeer::Finish() {
  while (!done_ && NowMs() < deadline_ + 2000)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> lock(gErrorLock);
  return completed_;
}

void TlsPeer::Run() {
  Tls& t = *tls_;
  auto fail = [&](const std::string& why) {
    std::lock_guard<std::mutex> lock(gErrorLock);
    if (error_.empty()) error_ = why;
  };
  auto left = [&] {
    const long long l = deadline_ - NowMs();
    return stop_ ? 0 : static_cast<int>(l < 0 ? 0 : l > 50 ? 50 : l);
  };
  auto expired = [&] { return stop_ || NowMs() >= deadline_; };
  auto sendAll = [&](const std::string& bytes) {
    size_t pos = 0;
    while (pos < bytes.size()) {
      const ssize_t r = ::send(t.fd, bytes.data() + pos, bytes.size() - pos, MSG_NOSIGNAL);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return false;
      pos += static_cast<size_t>(r);
    }
    return true;
  };
  // Feeds what the client sent into the session; false at end or time limit.
  auto receive = [&] {
    while (!expired()) {
      pollfd p{t.fd, POLLIN, 0};
      const int rc = ::poll(&p, 1, left());
      if (rc == 0) continue;
      char buf[16384];
      const ssize_t n = ::recv(t.fd, buf, sizeof buf, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      t.BIO_write(t.rbio, buf, static_cast<int>(n));
      return true;
    }
    return false;
  };

  while (t.fd < 0 && !expired()) {
    pollfd p{listen_, POLLIN, 0};
    if (::poll(&p, 1, left()) > 0) t.fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
  }
  bool ok = t.fd >= 0;
  if (!ok) fail("no client");
  if (ok) {
    t.ssl = t.SSL_new(t.ctx);
    t.rbio = t.BIO_new(t.BIO_s_mem());
    t.wbio = t.BIO_new(t.BIO_s_mem());
    t.SSL_set_bio(t.ssl, t.rbio, t.wbio);
    t.SSL_set_accept_state(t.ssl);
    for (;;) {
      const int r = t.SSL_do_handshake(t.ssl);
      if (!sendAll(t.Output())) ok = false;
      if (r == 1) break;
      if (!ok || t.SSL_get_error(t.ssl, r) != kWantRead || !receive()) {
        ok = false;
        fail("handshake failed");
        break;
      }
    }
    handshake_ = ok;
  }
  std::string plain;  // decrypted octets not yet taken by a step
  for (size_t i = 0; ok && i < steps_.size(); ++i) {
    const Step& s = steps_[i];
    if (s.kind == kRead) {
      // One BER message: tag, length (short or long form), content.
      auto whole = [&] {
        if (plain.size() < 2) return size_t(0);
        const auto l = static_cast<unsigned char>(plain[1]);
        size_t header = 2, len = l;
        if (l >= 0x80) {
          header += l & 0x7F;
          if (plain.size() < header) return size_t(0);
          len = 0;
          for (size_t k = 2; k < header; ++k)
            len = (len << 8) | static_cast<unsigned char>(plain[k]);
        }
        return plain.size() >= header + len ? header + len : size_t(0);
      };
      while (whole() == 0) {
        char buf[16384];
        const int n = t.SSL_read(t.ssl, buf, sizeof buf);
        if (n > 0) {
          plain.append(buf, static_cast<size_t>(n));
          continue;
        }
        sendAll(t.Output());
        if (t.SSL_get_error(t.ssl, n) != kWantRead || !receive()) {
          ok = false;
          fail("step " + std::to_string(i) + ": no whole message");
          break;
        }
      }
      if (ok) plain.erase(0, whole());
    } else if (s.kind == kSend || s.kind == kHalf) {
      t.SSL_write(t.ssl, s.bytes.data(), static_cast<int>(s.bytes.size()));
      std::string records = t.Output();
      if (s.kind == kHalf) records.resize(records.size() / 2);
      ok = sendAll(records);
      if (!ok) fail("step " + std::to_string(i) + ": client gone");
    } else if (s.kind == kDamaged || s.kind == kCloseNotify || s.kind == kHangUp) {
      t.SSL_write(t.ssl, s.bytes.data(), static_cast<int>(s.bytes.size()));
      std::string records = t.Output();
      if (s.kind == kDamaged) {
        t.SSL_write(t.ssl, s.bytes.data(), static_cast<int>(s.bytes.size()));
        std::string damaged = t.Output();
        if (!damaged.empty()) damaged.back() = static_cast<char>(damaged.back() ^ 0x01);
        records += damaged;
      } else if (s.kind == kCloseNotify) {
        t.SSL_shutdown(t.ssl);
        records += t.Output();
      }
      ok = sendAll(records);
      if (ok && s.kind == kHangUp) ::shutdown(t.fd, SHUT_WR);
      if (!ok) fail("step " + std::to_string(i) + ": client gone");
    } else if (s.kind == kTrickle) {
      t.SSL_write(t.ssl, s.bytes.data(), static_cast<int>(s.bytes.size()));
      const std::string records = t.Output();
      // A client that went away ends the trickle; the step still counts.
      for (size_t k = 0; k < records.size() && !expired(); ++k) {
        if (!sendAll(records.substr(k, 1))) break;
        const long long until = NowMs() + s.ms;
        while (!stop_ && NowMs() < until) std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    } else {
      const long long until = NowMs() + s.ms;
      while (!stop_ && NowMs() < until) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  {
    std::lock_guard<std::mutex> lock(gErrorLock);
    completed_ = ok;
  }
  done_ = true;
}

std::string TestCertificates() {
  static const std::string dir = [] {
    const std::string d = BinaryDir() + "/test-certs";
    const std::string cmd =
        "bash '" + SourceDir() + "/tests/common/make-test-certs.sh' '" + d + "'";
    return std::system(cmd.c_str()) == 0 ? d : std::string();
  }();
  return dir;
}

}  // namespace quorvel::test
