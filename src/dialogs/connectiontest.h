// The server dialog's connection test: connect and bind with the typed values,
// then report success or the failure with host, result code and text.
#pragma once

#include <functional>
#include <string>

namespace quorvel {

// Tries the connection; `beforeReport` runs once, right before the outcome is
// reported (the dialog restores its cursor there). Returns true on success.
// serverid is the catalogue id of the server being edited (0 for a new one):
// its trusted certificates apply, and "Trust and connect" remembers for it.
bool TestConnection(const std::string& host, const std::string& port, const std::string& uid,
                    const std::string& pwd, bool ssl, const std::function<void()>& beforeReport,
                    int serverid = 0);

// "Error connecting to \"host\" \r\n    ErrorCode: n\r\n    ErrorDesc: text"
std::string ConnectErrorText(const std::string& host, int code, const std::string& desc);

}  // namespace quorvel
