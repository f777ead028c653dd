// Bind passwords in the desktop keyring: the freedesktop Secret Service
// (whichever keyring the desktop runs) through libsecret.
//
// Nothing links against libsecret: Load() opens libsecret-1.so.0 with dlopen
// and binds its password calls by name, once per process under its own lock
// (GLib comes with it). A machine without it still runs every server that
// keeps its password elsewhere; only the keyring's servers fail, with
// kNoLibraryText, which names the package.
//
// One item per password, schema kSchema, attributes host (as entered for the
// server), port (decimal) and user (the bind DN), label
// "Quorvel: USER at HOST:PORT" (Label()). Store() creates or replaces the item
// of a key in the default collection; a locked keyring is unlocked through the
// desktop's own prompt, which the call waits for. Lookup() gives the password
// of a key, Remove() deletes the item of a key (none there is not a failure),
// Probe() tells whether a keyring can be reached at all without touching an
// item.
//
// Every call blocks until the keyring has answered (the D-Bus time-out bounds
// it) and returns a TStatus: Ok, NotFound (Lookup only: the keyring answered
// and holds no such item), Unreachable (no session bus, no Secret Service, a
// dismissed unlock prompt; `error` gets the library's text), NoLibrary. No
// call throws. Passwords pass as std::string; the library's own copy is wiped
// by the library, ours by Wipe().
//
//   quorvel::keyring::TKey key{"ldap.example.org", 636, "cn=admin,dc=example,dc=org"};
//   std::string pw, error;
//   switch (quorvel::keyring::Lookup(key, pw, &error)) { case TStatus::Ok: ... }
//   ... bind with pw ...
//   quorvel::keyring::Wipe(pw);
//
// Thread-safe: the calls may run on any thread (each runs its own D-Bus wait).
#pragma once

#include <string>

namespace quorvel::keyring {

enum class TStatus { Ok, NotFound, Unreachable, NoLibrary };

inline constexpr const char* kSchema = "org.quorvel.BindPassword";
inline constexpr const char* kNoLibraryText =
    "the desktop keyring needs the library libsecret-1.so.0, which is not installed: install "
    "the package libsecret-1-0";

struct TKey {
  std::string host;
  int port = 0;
  std::string user;
  bool operator==(const TKey&) const = default;
};

// "Quorvel: USER at HOST:PORT".
std::string Label(const TKey& key);

// Loads the library (once); false when it or a needed call is missing.
bool Load();
// Test hook: while on, Load() fails as if the library were missing.
void ForceMissing(bool on);

TStatus Probe(std::string* error = nullptr);
TStatus Store(const TKey& key, const std::string& password, std::string* error = nullptr);
TStatus Lookup(const TKey& key, std::string& password, std::string* error = nullptr);
TStatus Remove(const TKey& key, std::string* error = nullptr);

// Overwrites the string's bytes with zeros, then empties it.
void Wipe(std::string& secret);

}  // namespace quorvel::keyring
