// The server dialog's connection test: connect and bind with the typed values,
// then report success, or the failure in the very words a run would use
// (ConnectErrorText of store/connect.h).
#pragma once

#include <functional>
#include <memory>
#include <string>

class TCertificateCheck;

namespace quorvel {

// Tries the connection; `beforeReport` runs once, right before the outcome is
// reported (the dialog restores its cursor there). Returns true on success.
// ssl and auth as the catalogue keeps them (quorvel::ApplyConnectionSettings).
// trust decides about a certificate that fails verification (the server
// dialog's pending decision, store/trust.h); nullptr refuses every such
// certificate. May run on a worker thread (it only reports through
// LogError/LogInfo).
bool TestConnection(const std::string& host, const std::string& port, const std::string& uid,
                    const std::string& pwd, const std::string& ssl, const std::string& auth,
                    const std::function<void()>& beforeReport,
                    std::shared_ptr<TCertificateCheck> trust = nullptr);

}  // namespace quorvel
