#include "net/keyring.h"

#include <dlfcn.h>
#include <string.h>

#include <atomic>
#include <mutex>

namespace quorvel::keyring {
namespace {

// The library's published structures and numbers that are used here.
constexpr int kAttributeString = 0;
constexpr int kAttributeInteger = 1;
constexpr int kSchemaNone = 0;

struct SchemaAttribute {
  const char* name;
  int type;
};

struct Schema {
  const char* name;
  int flags;
  SchemaAttribute attributes[32];
  int reserved;
  void* reserved1;
  void* reserved2;
  void* reserved3;
  void* reserved4;
  void* reserved5;
  void* reserved6;
  void* reserved7;
};

struct Error {
  unsigned domain;
  int code;
  char* message;
};

// Each call ends its attributes with name/value pairs and a null name.
struct Api {
  void* lib = nullptr;
  int (*store)(const Schema*, const char*, const char*, const char*, void*, Error**, ...) = nullptr;
  char* (*lookup)(const Schema*, void*, Error**, ...) = nullptr;
  int (*clear)(const Schema*, void*, Error**, ...) = nullptr;
  void (*free_password)(char*) = nullptr;
  void (*free_error)(Error*) = nullptr;
};

Api gApi;
std::mutex gLock;
bool gTried = false;
bool gLoaded = false;
std::atomic<bool> gForceMissing{false};

const Schema* BindSchema() {
  static const Schema schema = [] {
    Schema s{};
    s.name = kSchema;
    s.flags = kSchemaNone;
    s.attributes[0] = {"host", kAttributeString};
    s.attributes[1] = {"port", kAttributeInteger};
    s.attributes[2] = {"user", kAttributeString};
    return s;
  }();
  return &schema;
}

template <typename F>
bool Bind(void* lib, const char* name, F& fn) {
  fn = reinterpret_cast<F>(dlsym(lib, name));
  return fn != nullptr;
}

// Takes the library's error: Unreachable with its text, or `none` when the
// call set no error.
TStatus Outcome(Error* e, TStatus none, std::string* error) {
  if (!e) return none;
  if (error) *error = e->message ? e->message : "unknown keyring error";
  gApi.free_error(e);
  return TStatus::Unreachable;
}

TStatus Missing(std::string* error) {
  if (error) *error = kNoLibraryText;
  return TStatus::NoLibrary;
}

}  // namespace

std::string Label(const TKey& key) {
  return "Quorvel: " + key.user + " at " + key.host + ":" + std::to_string(key.port);
}

bool Load() {
  if (gForceMissing) return false;
  std::lock_guard<std::mutex> lock(gLock);
  if (gTried) return gLoaded;
  gTried = true;
  Api a;
  a.lib = dlopen("libsecret-1.so.0", RTLD_NOW | RTLD_LOCAL);
  if (!a.lib) return false;
  // GLib's g_error_free is reached through libsecret's own dependencies.
  const bool all = Bind(a.lib, "secret_password_store_sync", a.store) &&
                   Bind(a.lib, "secret_password_lookup_sync", a.lookup) &&
                   Bind(a.lib, "secret_password_clear_sync", a.clear) &&
                   Bind(a.lib, "secret_password_free", a.free_password) &&
                   Bind(a.lib, "g_error_free", a.free_error);
  if (!all) return false;
  gApi = a;
  gLoaded = true;
  return true;
}

void ForceMissing(bool on) {
  gForceMissing = on;
}

TStatus Probe(std::string* error) {
  if (!Load()) return Missing(error);
  // A key no server can have: the keyring answers without unlocking anything.
  Error* e = nullptr;
  char* found = gApi.lookup(BindSchema(), nullptr, &e, "host", "", "port", -1, "user", "",
                            static_cast<const char*>(nullptr));
  if (found) gApi.free_password(found);
  return Outcome(e, TStatus::Ok, error);
}

TStatus Store(const TKey& key, const std::string& password, std::string* error) {
  if (!Load()) return Missing(error);
  Error* e = nullptr;
  const std::string label = Label(key);
  const int ok = gApi.store(BindSchema(), nullptr, label.c_str(), password.c_str(), nullptr, &e,
                            "host", key.host.c_str(), "port", key.port, "user", key.user.c_str(),
                            static_cast<const char*>(nullptr));
  if (!ok && !e) {
    if (error) *error = "the keyring did not store the password";
    return TStatus::Unreachable;
  }
  return Outcome(e, TStatus::Ok, error);
}

TStatus Lookup(const TKey& key, std::string& password, std::string* error) {
  Wipe(password);
  if (!Load()) return Missing(error);
  Error* e = nullptr;
  char* found = gApi.lookup(BindSchema(), nullptr, &e, "host", key.host.c_str(), "port", key.port,
                            "user", key.user.c_str(), static_cast<const char*>(nullptr));
  if (found) {
    password.assign(found);
    gApi.free_password(found);  // wipes the library's copy
  }
  return Outcome(e, found ? TStatus::Ok : TStatus::NotFound, error);
}

TStatus Remove(const TKey& key, std::string* error) {
  if (!Load()) return Missing(error);
  Error* e = nullptr;
  gApi.clear(BindSchema(), nullptr, &e, "host", key.host.c_str(), "port", key.port, "user",
             key.user.c_str(), static_cast<const char*>(nullptr));
  return Outcome(e, TStatus::Ok, error);
}

void Wipe(std::string& secret) {
  // The whole buffer, not only the characters in use: a shorter value may
  // have been assigned over a longer one.
  if (secret.capacity() > 0) explicit_bzero(secret.data(), secret.capacity());
  secret.clear();
}

}  // namespace quorvel::keyring
