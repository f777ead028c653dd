// One end-to-end search as the program runs it: connect, bind, search, every
// entry in SearchResult. Prints the entry count, the time and the memory the
// process holds at the start, once bound, after the search and at its peak.
//
//   bench_ldap_search HOST PORT BINDDN PASSWORD BASE FILTER ATTR;ATTR;...
//
// With QUORVEL_BENCH_PAGED=1 in the environment the search goes through
// SearchAllPages (read in pages when the server caps the plain search).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "ldap/paging.h"
#include "ldap/session.h"
#include "store/connect.h"

namespace {
// Resident set size of this process in KiB (VmRSS) and its peak (VmHWM).
long StatusKiB(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(key) + ":";
  while (std::getline(in, line)) {
    if (line.rfind(prefix, 0) == 0) return std::stol(line.substr(prefix.size()));
  }
  return -1;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 8) {
    std::fprintf(stderr, "usage: %s HOST PORT BINDDN PASSWORD BASE FILTER ATTRS\n", argv[0]);
    return 2;
  }
  const long rss_before = StatusKiB("VmRSS");
  const auto start = std::chrono::steady_clock::now();
  TLDAPSend ldap;
  ldap.TargetHost = argv[1];
  ldap.TargetPort = argv[2];
  ldap.UserName = argv[3];
  ldap.Password = argv[4];
  if (!ldap.Connect() || !ldap.Bind()) {
    std::fprintf(stderr, "connect/bind failed: %d %s\n", ldap.ResultCode(),
                 ldap.ResultString().c_str());
    return 1;
  }
  // The session, its socket and the TLS library are in place now: what grows
  // from here on is the search's own memory.
  const long rss_bound = StatusKiB("VmRSS");
  const std::vector<std::string> names = quorvel::RequestedAttributeNames(argv[7]);
  const char* paged = std::getenv("QUORVEL_BENCH_PAGED");
  const bool ok = paged && std::string(paged) == "1"
                      ? quorvel::SearchAllPages(ldap, argv[5], false, argv[6], names)
                      : ldap.Search(argv[5], false, argv[6], names);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const long rss_after = StatusKiB("VmRSS");
  std::printf(
      "entries=%d ok=%d code=%d seconds=%.3f rss_start_kib=%ld rss_bound_kib=%ld "
      "rss_after_kib=%ld peak_kib=%ld\n",
      ldap.SearchResult().Count(), ok ? 1 : 0, ldap.ResultCode(), seconds, rss_before, rss_bound,
      rss_after, StatusKiB("VmHWM"));
  ldap.Unbind();
  return ok ? 0 : 1;
}
