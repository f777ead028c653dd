#include "common/slapd_env.h"

#include "ldap/base64.h"

#include <cstdio>
#include <sstream>

#include <cstdlib>
#include <fstream>
#include <map>

namespace quorvel::test {

namespace {
std::string EnvOr(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return (v && *v) ? v : fallback;
}

// Removes one pair of surrounding single or double quotes.
std::string Unquote(std::string v) {
  if (v.size() >= 2 && (v.front() == '\'' || v.front() == '"') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}
}  // namespace

std::string BinaryDir() {
  return EnvOr("QUORVEL_BINARY_DIR", QUORVEL_BINARY_DIR);
}
std::string SourceDir() {
  return EnvOr("QUORVEL_SOURCE_DIR", QUORVEL_SOURCE_DIR);
}

std::map<std::string, std::string> ReadEnvFile(const std::string& path) {
  std::map<std::string, std::string> kv;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    kv[line.substr(0, eq)] = Unquote(line.substr(eq + 1));
  }
  return kv;
}

SlapdEnv ReadSlapdEnv(const std::string& dir) {
  SlapdEnv env;
  env.dir = dir;
  if (!std::ifstream(dir + "/env")) {
    env.error = "no file " + dir + "/env (is the slapd fixture running?)";
    return env;
  }
  std::map<std::string, std::string> kv = ReadEnvFile(dir + "/env");
  auto num = [&](const char* k) { return std::atoi(kv[k].c_str()); };
  env.host = kv["QUORVEL_LDAP_HOST"];
  env.port = num("QUORVEL_LDAP_PORT");
  env.ldapsPort = num("QUORVEL_LDAPS_PORT");
  env.base = kv["QUORVEL_LDAP_BASE"];
  env.adminDn = kv["QUORVEL_LDAP_ADMIN_DN"];
  env.adminPw = kv["QUORVEL_LDAP_ADMIN_PW"];
  env.userDn = kv["QUORVEL_LDAP_USER_DN"];
  env.userPw = kv["QUORVEL_LDAP_USER_PW"];
  env.cappedDn = kv["QUORVEL_LDAP_CAPPED_DN"];
  env.cappedPw = kv["QUORVEL_LDAP_CAPPED_PW"];
  env.totalCapDn = kv["QUORVEL_LDAP_TOTALCAP_DN"];
  env.totalCapPw = kv["QUORVEL_LDAP_TOTALCAP_PW"];
  env.certFile = kv["QUORVEL_LDAP_CERT"];
  env.caFile = kv["QUORVEL_LDAP_CA"];
  env.sizeLimit = num("QUORVEL_LDAP_SIZELIMIT");
  env.ok = !env.host.empty() && env.port > 0 && env.ldapsPort > 0 && !env.base.empty();
  if (!env.ok) env.error = dir + "/env is incomplete";
  return env;
}

const SlapdEnv& Slapd() {
  static const SlapdEnv env = ReadSlapdEnv(BinaryDir() + "/slapd-test");
  return env;
}

namespace {

std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace

std::vector<std::string> LdapsearchDns(const std::string& dn, const std::string& pw,
                                       const std::string& filter, const std::string& options) {
  const SlapdEnv& env = Slapd();
  const std::string cmd = "ldapsearch -x -LLL -o ldif-wrap=no " + options + " -H ldap://" +
                          env.host + ":" + std::to_string(env.port) + " -D " + ShellQuote(dn) +
                          " -w " + ShellQuote(pw) + " -b " + ShellQuote(env.base) + " " +
                          ShellQuote(filter) + " 1.1 2>/dev/null";
  std::vector<std::string> dns;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return dns;
  std::string out;
  char buf[4096];
  for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  pclose(p);
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("dn:: ", 0) == 0) {
      dns.push_back(quorvel::DecodeBase64(line.substr(5)));
    } else if (line.rfind("dn: ", 0) == 0) {
      dns.push_back(line.substr(4));
    }
  }
  return dns;
}

}  // namespace quorvel::test
