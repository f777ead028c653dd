#include "dialogs/connectiontest.h"

#include <exception>

#include "ldap/session.h"
#include "net/blocksocket.h"
#include "store/connect.h"
#include "store/messages.h"
#include "net/certverify.h"

namespace quorvel {

bool TestConnection(const std::string& host, const std::string& port, const std::string& uid,
                    const std::string& pwd, const std::string& ssl, const std::string& auth,
                    const std::function<void()>& beforeReport,
                    std::shared_ptr<TCertificateCheck> trust) {
  TLDAPSend ldap;
  ldap.TargetHost = host;
  ldap.TargetPort = port;
  ldap.UserName = uid;
  ldap.Password = pwd;
  ApplyConnectionSettings(ldap, ssl, auth);
  ldap.CertificateCheck = std::move(trust);
  bool connected = false;
  try {
    connected = ldap.Connect();
  } catch (const std::exception&) {
    connected = false;
  }
  if (!connected) {
    beforeReport();
    LogError(ConnectErrorText(ldap));
    return false;
  }
  bool bound = false;
  try {
    bound = ldap.Bind();
  } catch (const std::exception&) {
    bound = false;
  }
  beforeReport();
  if (bound) {
    LogInfo("Connection successful...");
  } else if (ldap.ResultCode() != 0 || (ldap.Sock() && ldap.Sock()->LastError() != 0)) {
    // A bind that failed below LDAP (connection dropped, silent server) is
    // reported too, not only a refused one.
    LogError(ConnectErrorText(ldap));
  }
  ldap.Unbind();
  return bound;
}

}  // namespace quorvel
