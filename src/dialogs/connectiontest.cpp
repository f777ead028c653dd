#include "dialogs/connectiontest.h"

#include "store/messages.h"

#if __has_include("ldap/session.h")
#include "ldap/session.h"
#define QUORVEL_HAVE_LDAP 1
#endif

namespace quorvel {

std::string ConnectErrorText(const std::string& host, int code, const std::string& desc) {
  return "Error connecting to \"" + host + "\" \r\n    ErrorCode: " + std::to_string(code) +
         "\r\n    ErrorDesc: " + desc;
}

bool TestConnection(const std::string& host, const std::string& port, const std::string& uid,
                    const std::string& pwd, bool ssl, const std::function<void()>& beforeReport) {
#ifdef QUORVEL_HAVE_LDAP
  (void)host;
  (void)port;
  (void)uid;
  (void)pwd;
  (void)ssl;
  beforeReport();
  return false;
#else
  (void)port;
  (void)uid;
  (void)pwd;
  (void)ssl;
  beforeReport();
  LogError(ConnectErrorText(host, -1, "LDAP client not available"));
  return false;
#endif
}

}  // namespace quorvel
