// The client's own work per entry of a search, without a directory or a
// store. The response messages of N people shaped like the benchmark
// directory's (DN, cn, sn, givenName, mail, telephoneNumber) are encoded
// beforehand; each entry is made into its export row and exact values
// (BuildExportRow, BuildEntryValues), held in batches of 100 and released as
// the staged table does.
//
//   decode   each message is decoded from memory (DecodeMessage,
//            ParseSearchEntry): the time of decoding and of the rows apart
//   session  a loopback server writes the messages as a directory would and
//            the search driver reads them through the session (the receive
//            path, the driver, the rows): the CPU of the reading thread
//
// The walk is made PASSES times; the line printed gives the pass of least CPU,
// in seconds per million entries.
//
//   bench_entry_rows decode|session [N] [PASSES]     (default 1000000 and 5)
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "common/loopback.h"
#include "ldap/ber.h"
#include "ldap/response.h"
#include "ldap/results.h"
#include "ldap/searchdriver.h"
#include "ldap/session.h"
#include "store/connect.h"
#include "store/rows.h"

namespace {

constexpr const char* kAtt = "cn;sn;givenName;mail;telephoneNumber";
constexpr int kMessageId = 1;  // the session's first request

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

std::string Attribute(const std::string& name, const std::string& value) {
  return EncodeObject(
      EncodeObject(name, ASN1_OCTSTR) + EncodeObject(EncodeObject(value, ASN1_OCTSTR), ASN1_SETOF),
      ASN1_SEQ);
}

std::string Message(int tag, const std::string& operation) {
  return EncodeObject(
      EncodeObject(EncodeInteger(kMessageId), ASN1_INT) + EncodeObject(operation, tag), ASN1_SEQ);
}

// One SearchResultEntry message, as a directory sends it.
std::string EntryMessage(long i) {
  char n[24];
  std::snprintf(n, sizeof n, "%07ld", i);
  const std::string id(n);
  std::string attrs = Attribute("cn", "Bench Person " + id);
  attrs += Attribute("sn", "Person" + id);
  attrs += Attribute("givenName", "Bench");
  attrs += Attribute("mail", "b" + id + "@bench.quorvel.test");
  attrs += Attribute("telephoneNumber", "+1 555 " + id);
  return Message(0x64, EncodeObject("uid=b" + id + ",ou=bench,dc=quorvel,dc=test", ASN1_OCTSTR) +
                           EncodeObject(attrs, ASN1_SEQ));
}

// The rows of each entry, made and released in batches as the store does.
class TRowMaker {
 public:
  explicit TRowMaker(const std::vector<quorvel::TRequestedColumn>& columns) : columns_(columns) {}
  void Take(const TLDAPResult& entry) {
    rows_.push_back(quorvel::BuildExportRow(entry, columns_));
    values_.push_back(quorvel::BuildEntryValues(entry, columns_));
    if (rows_.size() < 100) return;
    for (const auto& row : rows_) cells_ += row.size();
    rows_.clear();
    values_.clear();
  }
  std::size_t Cells() const { return cells_; }

 private:
  const std::vector<quorvel::TRequestedColumn>& columns_;
  std::vector<std::vector<std::string>> rows_;
  std::vector<quorvel::TEntryValues> values_;
  std::size_t cells_ = 0;
};

struct TPass {
  double decode = 0, rows = 0, cpu = 0;  // seconds
  std::size_t cells = 0;
  long entries = 0;
};

// Every message decoded from memory (kept out of line so that a profiler can
// count it alone).
[[gnu::noinline]] TPass Walk(const std::string& stream, const std::vector<std::size_t>& ends,
                             const std::vector<quorvel::TRequestedColumn>& columns) {
  TPass p;
  TRowMaker rows(columns);
  std::vector<std::string> referrals;
  std::size_t begin = 0;
  using clock = std::chrono::steady_clock;
  const double cpu_start = ThreadCpuSeconds();
  for (const std::size_t end : ends) {
    const auto t0 = clock::now();
    const std::string_view message(stream.data() + begin, end - begin);
    begin = end;
    const quorvel::TDecodedResponse r = quorvel::DecodeMessage(message, kMessageId, referrals);
    auto entry = std::make_unique<TLDAPResult>();
    quorvel::ParseSearchEntry(r.Rest, *entry);
    const auto t1 = clock::now();
    rows.Take(*entry);
    entry.reset();
    const auto t2 = clock::now();
    p.decode += std::chrono::duration<double>(t1 - t0).count();
    p.rows += std::chrono::duration<double>(t2 - t1).count();
    ++p.entries;
  }
  p.cpu = ThreadCpuSeconds() - cpu_start;
  p.cells = rows.Cells();
  return p;
}

// A sink that makes each entry's rows, as the row stream does.
class TRowSink : public quorvel::TSearchSink {
 public:
  explicit TRowSink(TRowMaker& rows) : rows_(rows) {}
  bool Entry(std::unique_ptr<TLDAPResult>& entry, int) override {
    rows_.Take(*entry);
    ++entries_;
    return true;
  }
  void Restart() override {}
  void End(const quorvel::TSearchOutcome&) override {}
  long Entries() const { return entries_; }

 private:
  TRowMaker& rows_;
  long entries_ = 0;
};

// One search through the session and the driver from a loopback server that
// answers the request with the whole stream and a success.
[[gnu::noinline]] TPass Search(const std::string& stream,
                               const std::vector<quorvel::TRequestedColumn>& columns) {
  TPass p;
  int port = 0;
  const int listener = quorvel::test::ListenOnLoopback(0, 1, port);
  if (listener < 0) return p;
  std::atomic<bool> stop{false};
  std::thread server([&] {
    const int fd = quorvel::test::AcceptOne(listener, stop, quorvel::test::NowMs() + 30000);
    if (fd < 0) return;
    char request[4096];
    if (::recv(fd, request, sizeof request, 0) > 0) quorvel::test::SendAll(fd, stream);
    while (::recv(fd, request, sizeof request, 0) > 0) {
    }
    ::close(fd);
  });
  TLDAPSend ldap;
  ldap.TargetHost = "127.0.0.1";
  ldap.TargetPort = std::to_string(port);
  TRowMaker rows(columns);
  TRowSink sink(rows);
  const double cpu_start = ThreadCpuSeconds();
  if (ldap.Connect()) {
    quorvel::TSearchDriver driver(ldap, sink);
    driver.Run({"ou=bench,dc=quorvel,dc=test", "(objectClass=inetOrgPerson)",
                quorvel::RequestedAttributeNames(kAtt)});
  }
  p.cpu = ThreadCpuSeconds() - cpu_start;
  ldap.Unbind();
  stop = true;
  server.join();
  ::close(listener);
  p.cells = rows.Cells();
  p.entries = sink.Entries();
  return p;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  const long n = argc > 2 ? std::atol(argv[2]) : 1000000;
  const int passes = argc > 3 ? std::atoi(argv[3]) : 5;
  if ((mode != "decode" && mode != "session") || n <= 0 || passes <= 0) {
    std::fprintf(stderr, "usage: %s decode|session [N] [PASSES]\n", argv[0]);
    return 2;
  }
  std::string stream;
  std::vector<std::size_t> ends;
  for (long i = 1; i <= n; ++i) {
    stream += EntryMessage(i);
    ends.push_back(stream.size());
  }
  stream += Message(0x65, EncodeObject(EncodeInteger(0), ASN1_ENUM) +
                              EncodeObject("", ASN1_OCTSTR) + EncodeObject("", ASN1_OCTSTR));
  const std::vector<quorvel::TRequestedColumn> columns = quorvel::RequestedColumns(kAtt, false);
  TPass best;
  for (int pass = 0; pass < passes; ++pass) {
    const TPass p = mode == "decode" ? Walk(stream, ends, columns) : Search(stream, columns);
    if (pass == 0 || p.cpu < best.cpu) best = p;
  }
  const double per_million = 1e6 / static_cast<double>(n);
  std::printf("mode=%s entries=%ld cells=%zu passes=%d best: cpu_s_per_million=%.3f", mode.c_str(),
              best.entries, best.cells, passes, best.cpu * per_million);
  if (mode == "decode")
    std::printf(" decode_s_per_million=%.3f rows_s_per_million=%.3f", best.decode * per_million,
                best.rows * per_million);
  std::printf("\n");
  return best.entries == n ? 0 : 1;
}
