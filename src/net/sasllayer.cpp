#include "net/sasllayer.h"

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

namespace quorvel::sasl {
namespace {

// The library's published numbers and structures that are used here.
constexpr int kOk = 0;
constexpr int kContinue = 1;
constexpr int kInteract = 2;
constexpr int kNoMech = -4;
constexpr int kPropSsf = 1;
constexpr int kPropMaxOutBuf = 2;
constexpr int kPropSecProps = 101;
constexpr unsigned long kCbListEnd = 0;
constexpr unsigned long kCbUser = 0x4001;
constexpr unsigned long kCbAuthName = 0x4002;
constexpr unsigned kSecNoPlainText = 0x0001;
constexpr unsigned kSecNoAnonymous = 0x0010;
// The strength that means confidentiality, not integrity alone.
constexpr unsigned kMinSealed = 56;
// The largest frame the server may send us (the receive buffer we announce).
constexpr unsigned kReceiveBuffer = 65536;

struct SecurityProperties {
  unsigned min_ssf;
  unsigned max_ssf;
  unsigned maxbufsize;
  unsigned security_flags;
  const char** property_names;
  const char** property_values;
};

struct Callback {
  unsigned long id;
  // The library calls it with the arguments its id implies; kept here as the
  // generic function pointer type.
  void (*proc)();
  void* context;
};

struct Interact {
  unsigned long id;
  const char* challenge;
  const char* prompt;
  const char* defresult;
  const void* result;
  unsigned len;
};

struct Api {
  void* lib = nullptr;
  int (*client_init)(const Callback*) = nullptr;
  int (*client_new)(const char*, const char*, const char*, const char*, const Callback*, unsigned,
                    void**) = nullptr;
  int (*client_start)(void*, const char*, Interact**, const char**, unsigned*,
                      const char**) = nullptr;
  int (*client_step)(void*, const char*, unsigned, Interact**, const char**, unsigned*) = nullptr;
  void (*dispose)(void**) = nullptr;
  int (*setprop)(void*, int, const void*) = nullptr;
  int (*getprop)(void*, int, const void**) = nullptr;
  const char* (*errdetail)(void*) = nullptr;
  const char* (*errstring)(int, const char*, const char**) = nullptr;
  int (*encode)(void*, const char*, unsigned, const char**, unsigned*) = nullptr;
  int (*decode)(void*, const char*, unsigned, const char**, unsigned*) = nullptr;
};

Api gApi;
std::mutex gLock;
bool gTried = false;
bool gLoaded = false;
std::atomic<bool> gForceMissing{false};

template <typename F>
bool Bind(void* lib, const char* name, F& fn) {
  fn = reinterpret_cast<F>(dlsym(lib, name));
  return fn != nullptr;
}

// The identities GSSAPI might ask for: none (the ticket's principal signs in
// and asks for no other authorization identity).
int EmptySimple(void*, int, const char** result, unsigned* len) {
  *result = "";
  if (len) *len = 0;
  return kOk;
}

const Callback* Callbacks() {
  using Simple = int (*)(void*, int, const char**, unsigned*);
  static const Callback list[] = {
      {kCbUser, reinterpret_cast<void (*)()>(static_cast<Simple>(EmptySimple)), nullptr},
      {kCbAuthName, reinterpret_cast<void (*)()>(static_cast<Simple>(EmptySimple)), nullptr},
      {kCbListEnd, nullptr, nullptr},
  };
  return list;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

}  // namespace

bool Load() {
  if (gForceMissing) return false;
  std::lock_guard<std::mutex> lock(gLock);
  if (gTried) return gLoaded;
  gTried = true;
  Api a;
  a.lib = dlopen("libsasl2.so.2", RTLD_NOW | RTLD_LOCAL);
  if (!a.lib) return false;
  const bool all =
      Bind(a.lib, "sasl_client_init", a.client_init) &&
      Bind(a.lib, "sasl_client_new", a.client_new) &&
      Bind(a.lib, "sasl_client_start", a.client_start) &&
      Bind(a.lib, "sasl_client_step", a.client_step) && Bind(a.lib, "sasl_dispose", a.dispose) &&
      Bind(a.lib, "sasl_setprop", a.setprop) && Bind(a.lib, "sasl_getprop", a.getprop) &&
      Bind(a.lib, "sasl_errdetail", a.errdetail) && Bind(a.lib, "sasl_errstring", a.errstring) &&
      Bind(a.lib, "sasl_encode", a.encode) && Bind(a.lib, "sasl_decode", a.decode);
  if (!all || a.client_init(nullptr) != kOk) {
    // The library stays mapped: a failed initialisation may have loaded
    // plug-ins that still point into it.
    return false;
  }
  gApi = a;
  gLoaded = true;
  return true;
}

void ForceMissing(bool on) {
  gForceMissing = on;
}

std::string KerberosText(const std::string& detail) {
  // "... GSSAPI Error: <general text> (<Kerberos text>)"; the general text
  // may end in "Minor code may provide more information".
  static const char kGss[] = "GSSAPI Error: ";
  const size_t g = detail.find(kGss);
  if (g == std::string::npos) return detail;
  const std::string general = detail.substr(g + sizeof kGss - 1);
  const size_t open = general.find('(');
  const size_t close = general.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close <= open) return general;
  const std::string minor = general.substr(open + 1, close - open - 1);
  // A minor text of "Success" (no Kerberos code) says nothing: the general
  // text does ("The referenced credential has expired", ...).
  if (!minor.empty() && minor != "Success") return minor;
  std::string major = general.substr(0, open);
  while (!major.empty() && major.back() == ' ') major.pop_back();
  return major;
}

TFailure Classify(const std::string& kerberosText) {
  const std::string t = Lower(kerberosText);
  if (t.find("not found in kerberos database") != std::string::npos)
    return TFailure::UnknownPrincipal;
  if (t.find("expired") != std::string::npos) return TFailure::ExpiredTicket;
  if (t.find("no kerberos credentials") != std::string::npos ||
      t.find("no credentials cache") != std::string::npos ||
      t.find("no credentials were supplied") != std::string::npos ||
      (t.find("credentials cache") != std::string::npos &&
       t.find("not found") != std::string::npos))
    return TFailure::NoTicket;
  return TFailure::Other;
}

TSaslClient::TSaslClient() = default;

TSaslClient::~TSaslClient() {
  if (conn_ && gLoaded) gApi.dispose(&conn_);
}

void TSaslClient::Fail(int rc) {
  if (rc == kNoMech) {
    // The library is there but has no GSSAPI module.
    failure_ = TFailure::NoLibrary;
    error_ = kNoLibraryText;
    return;
  }
  std::string detail;
  if (conn_) {
    const char* d = gApi.errdetail(conn_);
    if (d) detail = d;
  }
  if (detail.empty()) {
    const char* s = gApi.errstring(rc, nullptr, nullptr);
    detail = s ? s : "SASL error " + std::to_string(rc);
  }
  error_ = KerberosText(detail);
  failure_ = Classify(error_);
}

template <typename Call>
bool TSaslClient::Run(Call call, std::string& out) {
  out.clear();
  const char* data = nullptr;
  unsigned len = 0;
  int rc = kInteract;
  for (int round = 0; round < 4 && rc == kInteract; ++round) {
    Interact* questions = nullptr;
    rc = call(&questions, &data, &len);
    for (Interact* q = questions; rc == kInteract && q && q->id != kCbListEnd; ++q) {
      q->result = "";
      q->len = 0;
    }
  }
  if (rc != kOk && rc != kContinue) {
    Fail(rc);
    return false;
  }
  if (data && len > 0) out.assign(data, len);
  done_ = rc == kOk;
  if (done_ && layer_ && Strength() < kMinSealed) {
    failure_ = TFailure::Other;
    error_ = "the server did not agree to encrypt the connection";
    return false;
  }
  return true;
}

bool TSaslClient::Start(const std::string& service, const std::string& host, bool layer,
                        std::string& out) {
  out.clear();
  failure_ = TFailure::None;
  error_.clear();
  done_ = false;
  layer_ = layer;
  if (!Load()) {
    failure_ = TFailure::NoLibrary;
    error_ = kNoLibraryText;
    return false;
  }
  if (conn_) gApi.dispose(&conn_);
  int rc = gApi.client_new(service.c_str(), host.c_str(), nullptr, nullptr, Callbacks(), 0, &conn_);
  if (rc != kOk) {
    Fail(rc);
    return false;
  }
  SecurityProperties props{};
  props.min_ssf = layer ? kMinSealed : 0;
  props.max_ssf = layer ? 0xFFFFu : 0;
  props.maxbufsize = layer ? kReceiveBuffer : 0;
  props.security_flags = kSecNoPlainText | kSecNoAnonymous;
  rc = gApi.setprop(conn_, kPropSecProps, &props);
  if (rc != kOk) {
    Fail(rc);
    return false;
  }
  return Run(
      [this](Interact** q, const char** data, unsigned* len) {
        const char* mech = nullptr;
        return gApi.client_start(conn_, "GSSAPI", q, data, len, &mech);
      },
      out);
}

bool TSaslClient::Step(std::string_view challenge, std::string& out) {
  if (!conn_ || !gLoaded) {
    failure_ = TFailure::Other;
    error_ = "no SASL exchange has been started";
    return false;
  }
  return Run(
      [this, challenge](Interact** q, const char** data, unsigned* len) {
        return gApi.client_step(conn_, challenge.data(), static_cast<unsigned>(challenge.size()), q,
                                data, len);
      },
      out);
}

unsigned TSaslClient::Strength() const {
  const void* v = nullptr;
  if (!conn_ || !gLoaded || gApi.getprop(conn_, kPropSsf, &v) != kOk || !v) return 0;
  return *static_cast<const unsigned*>(v);
}

unsigned TSaslClient::MaxOut() const {
  const void* v = nullptr;
  if (!conn_ || !gLoaded || gApi.getprop(conn_, kPropMaxOutBuf, &v) != kOk || !v) return 0;
  return *static_cast<const unsigned*>(v);
}

bool TSaslClient::Encode(std::string_view plain, std::string& out) {
  const char* data = nullptr;
  unsigned len = 0;
  const int rc = gApi.encode(conn_, plain.data(), static_cast<unsigned>(plain.size()), &data, &len);
  if (rc != kOk) {
    Fail(rc);
    return false;
  }
  out.assign(data ? data : "", data ? len : 0);
  return true;
}

bool TSaslClient::Decode(std::string_view frame, std::string& out) {
  const char* data = nullptr;
  unsigned len = 0;
  const int rc = gApi.decode(conn_, frame.data(), static_cast<unsigned>(frame.size()), &data, &len);
  if (rc != kOk) {
    Fail(rc);
    return false;
  }
  out.assign(data ? data : "", data ? len : 0);
  return true;
}

// ---------------------------------------------------------------------------

TSaslLayer::TSaslLayer(std::unique_ptr<TSaslClient> client) : client_(std::move(client)) {
  // Blocks stay within the server's buffer; a server that announced none
  // gets the common 64 KiB less room for the seal.
  const unsigned out = client_->MaxOut();
  maxOut_ = out > 0 ? out : 60000;
}

TSaslLayer::~TSaslLayer() = default;

bool TSaslLayer::Seal(std::string_view plain, std::string& frames) {
  frames.clear();
  std::string encoded;
  for (size_t pos = 0; pos < plain.size(); pos += maxOut_) {
    // The library gives each block as a whole frame, its length first.
    if (!client_->Encode(plain.substr(pos, maxOut_), encoded)) {
      error_ = client_->ErrorText();
      return false;
    }
    frames += encoded;
  }
  return true;
}

bool TSaslLayer::Feed(std::string_view raw) {
  if (taken_ > 0 && taken_ == plain_.size()) {
    plain_.clear();
    taken_ = 0;
  }
  // The library gathers the frames from octets in any pieces (their lengths
  // checked against the buffer we announced) and decodes each whole one.
  std::string decoded;
  for (size_t pos = 0; pos < raw.size(); pos += kFeedBlock) {
    if (!client_->Decode(raw.substr(pos, kFeedBlock), decoded)) {
      error_ = "a message from the server failed its check: " + client_->ErrorText();
      return false;
    }
    plain_ += decoded;
  }
  return true;
}

size_t TSaslLayer::Take(char* buffer, size_t length) {
  const size_t n = std::min(length, Pending());
  std::memcpy(buffer, plain_.data() + taken_, n);
  taken_ += n;
  if (taken_ == plain_.size()) {
    plain_.clear();
    taken_ = 0;
  }
  return n;
}

}  // namespace quorvel::sasl

// In a build with AddressSanitizer: the Kerberos library keeps a credential
// per sign-in that it never frees when no security layer was negotiated
// (inside TLS), out of reach of the program; its leak checker is told so.
// Leaks of the program's own memory are still reported.
#if defined(__SANITIZE_ADDRESS__)
#define QUORVEL_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUORVEL_ADDRESS_SANITIZER 1
#endif
#endif
#ifdef QUORVEL_ADDRESS_SANITIZER
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libgssapi_krb5.so\nleak:libkrb5.so\nleak:libsasl2.so\nleak:libgssapiv2.so\n";
}
#endif
