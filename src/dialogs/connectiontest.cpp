#include "dialogs/connectiontest.h"

#include "store/messages.h"
#include "store/trust.h"

#include "ldap/session.h"
#include "net/blocksocket.h"

namespace quorvel {

namespace {
// The session's result text, or the socket's reason when the failure happened
// below LDAP (no route, refused, time-out, TLS handshake).
std::string FailureText(const TLDAPSend& ldap) {
  if (!ldap.ResultString().empty()) return ldap.ResultString();
  if (ldap.Sock() && ldap.Sock()->LastError() != 0) return ldap.Sock()->LastErrorText();
  return ldap.ResultString();
}
}  // namespace

std::string ConnectErrorText(const std::string& host, int code, const std::string& desc) {
  return "Error connecting to \"" + host + "\" \r\n    ErrorCode: " + std::to_string(code) +
         "\r\n    ErrorDesc: " + desc;
}

bool TestConnection(const std::string& host, const std::string& port, const std::string& uid,
                    const std::string& pwd, bool ssl, const std::function<void()>& beforeReport,
                    int serverid) {
  TLDAPSend ldap;
  ldap.TargetHost = host;
  ldap.TargetPort = port;
  ldap.UserName = uid;
  ldap.Password = pwd;
  if (ssl) ldap.FullSSL = true;
  RequireTrust(ldap, serverid, host + ":" + port);
  if (!ldap.Connect()) {
    beforeReport();
    LogError(ConnectErrorText(host, ldap.ResultCode(), FailureText(ldap)));
    return false;
  }
  const bool bound = ldap.Bind();
  beforeReport();
  if (bound) {
    LogInfo("Connection successful...");
  } else if (ldap.ResultCode() != 0 || (ldap.Sock() && ldap.Sock()->LastError() != 0)) {
    // A bind that failed below LDAP (connection dropped, silent server) is
    // reported too, not only a refused one.
    LogError(ConnectErrorText(host, ldap.ResultCode(), FailureText(ldap)));
  }
  ldap.Unbind();
  return bound;
}

}  // namespace quorvel
