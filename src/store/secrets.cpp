#include "store/secrets.h"

#include <exception>
#include <utility>

#include "sqlstore/dataset.h"
#include "store/catalogueupgrade.h"
#include "store/data.h"

namespace quorvel {
namespace {

using keyring::TStatus;

std::string KeyText(const keyring::TKey& key) {
  return "\"" + key.user + "\" at " + key.host + ":" + std::to_string(key.port);
}

bool Failed(TStatus status, const std::string& why, std::string* error) {
  if (status == TStatus::Ok) return true;
  if (error) *error = why;
  return false;
}

// Runs one catalogue statement; the reason in `error` on failure.
bool Exec(Tdata& d, const std::string& text, const std::vector<std::string>& values,
          std::string* error = nullptr) {
  try {
    TASQLite3Query q(&d.db);
    q.SetSQL(text);
    q.SetParamValues(values);
    q.ExecSQL();
    return true;
  } catch (const std::exception& e) {
    if (error) *error = e.what();
    return false;
  }
}

struct TStoredPassword {
  int id = 0;
  keyring::TKey key;
  std::string pwd;
};

std::vector<TStoredPassword> CataloguePasswords(Tdata& d) {
  std::vector<TStoredPassword> out;
  try {
    if (!HasColumn(d.db, "servers", "secret")) return out;
    TASQLite3Query q(&d.db);
    q.SetSQL(
        "SELECT id, server, port, uid, pwd FROM servers "
        "WHERE (secret = 'catalogue' OR secret IS NULL) AND pwd <> ''");
    q.Open();
    for (q.First(); !q.Eof(); q.Next())
      out.push_back({q.FieldByName("id").AsInteger(),
                     {q.FieldByName("server").AsString(), q.FieldByName("port").AsInteger(),
                      q.FieldByName("uid").AsString()},
                     q.FieldByName("pwd").AsString()});
    q.Close();
  } catch (const std::exception&) {
    out.clear();
  }
  return out;
}

// Rewrites the catalogue so that deleted bytes are gone: overwritten as they
// are freed, the file rebuilt without free pages, and the log emptied into it.
bool RewriteCatalogue(Tdata& d, std::string* error) {
  try {
    d.servers.Close();
    d.profiles.Close();
    d.db.ExecDirect("VACUUM");
    d.db.ExecDirect("PRAGMA wal_checkpoint(TRUNCATE)");
    d.servers.Open();
    d.profiles.Open();
    return true;
  } catch (const std::exception& e) {
    if (error) *error = e.what();
    try {
      if (!d.servers.Active()) d.servers.Open();
      if (!d.profiles.Active()) d.profiles.Open();
    } catch (const std::exception&) {
    }
    return false;
  }
}

}  // namespace

bool NeedsPassword(const TServerNodeData& server) {
  return server.auth != "kerberos" && !server.uid.empty() &&
         (server.secret == kSecretKeyring || server.secret == kSecretAsk);
}

keyring::TKey KeyringKey(const TServerNodeData& server) {
  return {server.server, server.port, server.uid};
}

void WipeOutsidePassword(TServerNodeData& server) {
  if (server.secret != kSecretCatalogue) keyring::Wipe(server.pwd);
}

std::string DefaultSecret() {
  return keyring::Probe() == TStatus::Ok ? kSecretKeyring : kSecretAsk;
}

bool ReadKeyringPassword(TServerNodeData& server, std::string* error, const std::string& advice) {
  const keyring::TKey key = KeyringKey(server);
  std::string why;
  const TStatus status = keyring::Lookup(key, server.pwd, &why);
  if (status == TStatus::Ok && !server.pwd.empty()) return true;
  keyring::Wipe(server.pwd);
  const std::string todo =
      advice.empty() ? "Set the password again in the server's properties (\"Keep the password:\")."
                     : advice;
  std::string text;
  switch (status) {
    case TStatus::NoLibrary:
      text = "the password of " + KeyText(key) + " is kept in the desktop keyring, but " +
             keyring::kNoLibraryText + ".";
      break;
    case TStatus::Unreachable:
      text = "the desktop keyring could not be reached (" + why + "), so the password of " +
             KeyText(key) + " could not be read.";
      break;
    case TStatus::Ok:
    case TStatus::NotFound:
      text = "the desktop keyring holds no password for " + KeyText(key) + ".";
      break;
  }
  if (error) *error = text + " " + todo;
  return false;
}

bool KeyringKeyShared(Tdata& d, const keyring::TKey& key, int except) {
  try {
    TASQLite3Query q(&d.db);
    q.SetSQL("SELECT id FROM servers WHERE secret = 'keyring' AND server = ? AND port = " +
             std::to_string(key.port) + " AND uid = ? AND id <> " + std::to_string(except) +
             " AND (auth IS NULL OR auth <> 'kerberos')");
    q.SetParamValues({key.host, key.user});
    q.Open();
    const bool shared = q.RecordCount() > 0;
    q.Close();
    return shared;
  } catch (const std::exception&) {
    return true;  // when in doubt, the item stays
  }
}

bool SyncKeyringItem(Tdata& d, const TServerNodeData* before, const TServerNodeData& after, int id,
                     const std::string& typed, std::string* error) {
  const bool nowKeyring = NeedsPassword(after) && after.secret == kSecretKeyring;
  const bool wasKeyring = before && NeedsPassword(*before) && before->secret == kSecretKeyring;
  const keyring::TKey key = KeyringKey(after);
  const keyring::TKey old = before ? KeyringKey(*before) : key;
  std::string why;
  if (nowKeyring) {
    if (!typed.empty()) {
      if (!Failed(keyring::Store(key, typed, &why), why, error)) return false;
    } else if (wasKeyring && !(old == key)) {
      std::string pw;
      const TStatus found = keyring::Lookup(old, pw, &why);
      if (found == TStatus::Ok) {
        const TStatus stored = keyring::Store(key, pw, &why);
        keyring::Wipe(pw);
        if (!Failed(stored, why, error)) return false;
      } else if (found != TStatus::NotFound) {
        return Failed(found, why, error);
      }
    }
  }
  if (wasKeyring && (!nowKeyring || !(old == key)) && !KeyringKeyShared(d, old, id))
    keyring::Remove(old);
  return true;
}

void ForgetKeyringItem(Tdata& d, const TServerNodeData& server, int id) {
  if (!NeedsPassword(server) || server.secret != kSecretKeyring) return;
  const keyring::TKey key = KeyringKey(server);
  if (!KeyringKeyShared(d, key, id)) keyring::Remove(key);
}

int CataloguePasswordCount(Tdata& d) {
  std::vector<TStoredPassword> found = CataloguePasswords(d);
  for (TStoredPassword& p : found) keyring::Wipe(p.pwd);
  return static_cast<int>(found.size());
}

TMoveOutcome MovePasswordsToKeyring(Tdata& d) {
  TMoveOutcome out;
  std::vector<TStoredPassword> found = CataloguePasswords(d);
  if (keyring::Probe(&out.error) != TStatus::Ok) {
    out.failed = static_cast<int>(found.size());
    for (TStoredPassword& p : found) keyring::Wipe(p.pwd);
    return out;
  }
  // Freed bytes are overwritten from here on, in this connection.
  Exec(d, "PRAGMA secure_delete = ON", {});
  for (TStoredPassword& p : found) {
    std::string why;
    const bool stored = keyring::Store(p.key, p.pwd, &why) == TStatus::Ok;
    keyring::Wipe(p.pwd);
    if (stored &&
        Exec(d,
             "UPDATE servers SET pwd = '', secret = 'keyring' WHERE id = " + std::to_string(p.id),
             {}, &why)) {
      ++out.moved;
      out.ids.push_back(p.id);
    } else {
      ++out.failed;
      if (out.error.empty()) out.error = why;
    }
  }
  std::string why;
  out.rewritten = RewriteCatalogue(d, &why);
  if (!out.rewritten && out.error.empty()) out.error = why;
  return out;
}

TPasswordMemory::~TPasswordMemory() {
  for (auto& [key, pw] : passwords_) keyring::Wipe(pw);
}

namespace {
std::string MemoryKey(const keyring::TKey& key) {
  return key.host + '\n' + std::to_string(key.port) + '\n' + key.user;
}
}  // namespace

void TPasswordMemory::Remember(const keyring::TKey& key, const std::string& password) {
  std::string& slot = passwords_[MemoryKey(key)];
  keyring::Wipe(slot);
  slot = password;
}

bool TPasswordMemory::Recall(const keyring::TKey& key, std::string& password) const {
  const auto it = passwords_.find(MemoryKey(key));
  if (it == passwords_.end()) return false;
  password = it->second;
  return true;
}

void TPasswordMemory::Forget(const keyring::TKey& key) {
  const auto it = passwords_.find(MemoryKey(key));
  if (it == passwords_.end()) return;
  keyring::Wipe(it->second);
  passwords_.erase(it);
}

}  // namespace quorvel
