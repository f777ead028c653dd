// The server dialog's connection test: connect and bind with the typed values,
// then report success, or the failure in the very words a run would use
// (ConnectErrorText of store/connect.h).
#pragma once

#include <functional>
#include <string>

namespace quorvel {

// Tries the connection; `beforeReport` runs once, right before the outcome is
// reported (the dialog restores its cursor there). Returns true on success.
// ssl and auth as the catalogue keeps them (quorvel::ApplyConnectionSettings).
// serverid is the catalogue id of the server being edited (0 for a new one):
// its trusted certificates apply, and "Trust and connect" remembers for it.
// May run on a worker thread (it only reports through LogError/LogInfo).
bool TestConnection(const std::string& host, const std::string& port, const std::string& uid,
                    const std::string& pwd, const std::string& ssl, const std::string& auth,
                    const std::function<void()>& beforeReport, int serverid = 0);

}  // namespace quorvel
