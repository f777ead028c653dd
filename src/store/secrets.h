// Where a server's bind password is kept, and the catalogue's side of it.
//
// A server that signs in with a bind DN keeps its password in one of three
// places (TServerNodeData::secret, catalogue column servers.secret):
//   "keyring"   the desktop keyring (net/keyring.h), one item per host, port
//               and bind DN; servers.pwd stays empty;
//   "ask"       nowhere: asked when connecting (the window's password dialog,
//               quorvel-report's terminal prompt); servers.pwd stays empty;
//   "catalogue" servers.pwd in clear text (every server stored before the
//               column existed).
// A Kerberos server, or one without a bind DN, needs no password at all.
//
// Nothing here shows anything: the functions give texts for the caller's
// message and report failures as false with the reason. Every copy of a
// password they make is wiped (keyring::Wipe) when it is no longer needed.
//
// Typical uses:
//   if (NeedsPassword(server) && server.secret == kSecretKeyring)
//     if (!ReadKeyringPassword(server, &why)) LogError(...why...);
//   TMoveOutcome m = MovePasswordsToKeyring(*data);   // the Server menu's command
#pragma once

#include <map>
#include <string>
#include <vector>

#include "net/keyring.h"
#include "store/nodedata.h"

class Tdata;

namespace quorvel {

inline constexpr const char* kSecretKeyring = "keyring";
inline constexpr const char* kSecretAsk = "ask";
inline constexpr const char* kSecretCatalogue = "catalogue";

// The server binds with a DN and a password kept out of the catalogue.
bool NeedsPassword(const TServerNodeData& server);
keyring::TKey KeyringKey(const TServerNodeData& server);
// Wipes server.pwd unless the server keeps its password in the catalogue
// (whose records carry it as the catalogue does).
void WipeOutsidePassword(TServerNodeData& server);

// Where a new server keeps its password: the keyring when one can be
// reached, else asked when connecting.
std::string DefaultSecret();

// Fills server.pwd from the keyring. false with `error` the text that
// follows "Error connecting to \"HOST\": " (what failed and what to do);
// `advice` ends the text when given, else it says to set the password again
// in the server's properties.
bool ReadKeyringPassword(TServerNodeData& server, std::string* error,
                         const std::string& advice = std::string());

// Whether another server of the catalogue than `except` keeps its password
// in the keyring under the same host, port and bind DN.
bool KeyringKeyShared(Tdata& d, const keyring::TKey& key, int except);

// After a server has been saved: puts its keyring item in step. `before` is
// the server as it was (nullptr for a new one), `after` as saved, `typed` the
// password typed in the dialog (empty: keep the one there is). A keyring
// server's item is stored (typed), or moved when the host, port or bind DN
// changed; a server that no longer keeps its password in the keyring loses
// its item. Items another server shares are left. false with the reason
// when the keyring could not do it.
bool SyncKeyringItem(Tdata& d, const TServerNodeData* before, const TServerNodeData& after, int id,
                     const std::string& typed, std::string* error);
// After a server has been deleted: its item goes unless another server shares it.
void ForgetKeyringItem(Tdata& d, const TServerNodeData& server, int id);

// How many servers keep a non-empty password in the catalogue.
int CataloguePasswordCount(Tdata& d);

struct TMoveOutcome {
  int moved = 0;           // passwords now in the keyring
  int failed = 0;          // left in the catalogue (the keyring refused them)
  bool rewritten = false;  // the catalogue was rewritten without the old bytes
  std::vector<int> ids;    // the servers moved
  std::string error;       // the first failure's reason
};
// Stores every catalogue password in the keyring, empties servers.pwd and
// sets servers.secret to "keyring" for each, then rewrites the catalogue
// (secure_delete, VACUUM, the write-ahead log checkpointed and truncated)
// so that none of the old bytes stay in the file, its journal or its free
// pages. Nothing is moved when the keyring cannot be reached.
TMoveOutcome MovePasswordsToKeyring(Tdata& d);

// Passwords asked when connecting and remembered until the program exits,
// by host, port and bind DN; in memory only, wiped when forgotten.
class TPasswordMemory {
 public:
  ~TPasswordMemory();
  void Remember(const keyring::TKey& key, const std::string& password);
  // Copies the remembered password into `password`; false when there is none.
  bool Recall(const keyring::TKey& key, std::string& password) const;
  void Forget(const keyring::TKey& key);

 private:
  std::map<std::string, std::string> passwords_;
};

}  // namespace quorvel
