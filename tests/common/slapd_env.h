// Where the private directory server of the test run listens.
//
// The CTest fixture "slapd" (tests/common/CMakeLists.txt) starts
// scripts/slapd-harness.sh on <build>/slapd-test with the directory of
// scripts/gen-test-ldif.py (its header lists the DNs tests can rely on) and
// stops it after the run. A test that needs it is registered with
//   quorvel_test(name SOURCES ... LIBS testsupport ... FIXTURES slapd LABELS slapd)
// and reads the harness's env file:
//   const quorvel::test::SlapdEnv& env = quorvel::test::Slapd();
//   QUORVEL_REQUIRE_SLAPD(env);   // fails the test when the server is missing
//   connect to env.host:env.port (clear, StartTLS accepted) or env.ldapsPort
//
// The build directory comes from the QUORVEL_BINARY_DIR environment variable
// (set by quorvel_test for every test) or else the compile definition.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace quorvel::test {

struct SlapdEnv {
  bool ok = false;      // the env file was found and complete
  std::string dir;      // <build>/slapd-test
  std::string host;     // 127.0.0.1
  int port = 0;         // clear LDAP (StartTLS accepted)
  int ldapsPort = 0;    // LDAPS
  std::string base;     // dc=quorvel,dc=test
  std::string adminDn;  // cn=admin,dc=quorvel,dc=test (no size limit)
  std::string adminPw;
  std::string userDn;  // a normal user (the size limit applies)
  std::string userPw;
  // Capped at 1000 entries a plain search, but paged searches get everything.
  std::string cappedDn, cappedPw;
  // Capped at 1000 entries for paged searches too.
  std::string totalCapDn, totalCapPw;
  std::string certFile;  // the server's certificate (PEM), for 127.0.0.1 and localhost
  std::string caFile;    // the authority that signed it (every test gets it as SSL_CERT_FILE)
  int sizeLimit = 0;     // the server's size limit for normal users
  std::string error;     // why ok is false
};

// The build directory (environment QUORVEL_BINARY_DIR, else the compile-time one).
std::string BinaryDir();
// The source directory (environment QUORVEL_SOURCE_DIR, else the compile-time one).
std::string SourceDir();
// The NAME=value lines of a harness's env file (values unquoted); empty when
// the file cannot be read.
std::map<std::string, std::string> ReadEnvFile(const std::string& path);
// Reads DIR/env as written by slapd-harness.sh.
SlapdEnv ReadSlapdEnv(const std::string& dir);
// The environment of <build>/slapd-test, read once.
const SlapdEnv& Slapd();

// The DNs, in the order received, that the stock ldapsearch client finds below
// the test base for the filter, bound as dn/pw, with extra options (such as
// "-E pr=500/noprompt") placed before the base; empty when it could not run.
std::vector<std::string> LdapsearchDns(const std::string& dn, const std::string& pw,
                                       const std::string& filter, const std::string& options = "");

}  // namespace quorvel::test

// Fails (fatally) the current test when the private server is not running.
#define QUORVEL_REQUIRE_SLAPD(env) \
  ASSERT_TRUE((env).ok) << "private slapd not available: " << (env).error
