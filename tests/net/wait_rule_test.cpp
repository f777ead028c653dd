// Servers that trickle a response one octet at a time, in clear and inside
// TLS: the time-out bounds the whole message from its first octet, and a
// cancel is seen within the cancel slice while octets keep coming.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/fake_server.h"
#include "common/tls_peer.h"
#include "ldap/ber.h"
#include "ldap/session.h"
#include "net/blocksocket.h"
#include "net/waitrule.h"

using quorvel::test::ElapsedMs;
using quorvel::test::FakeServer;
using quorvel::test::TestCertificates;
using quorvel::test::TlsPeer;

namespace {

const std::string kBindOk("\x30\x0c\x02\x01\x01\x61\x07\x0a\x01\x00\x04\x00\x04\x00", 14);

// A search entry (id 2) of about 300 octets: trickled one octet every
// kEveryMs it takes some 12 s, far beyond every limit below.
const std::string kLongEntry = [] {
  const std::string values = EncodeObject(std::string(260, 'x'), 0x04);
  const std::string attr =
      EncodeObject(EncodeObject("cn", 0x04) + EncodeObject(values, 0x31), 0x30);
  const std::string op =
      EncodeObject(EncodeObject("cn=slow", 0x04) + EncodeObject(attr, 0x30), 0x64);
  return EncodeObject(EncodeObject(EncodeInteger(2), 0x02) + op, 0x30);
}();
constexpr int kEveryMs = 40;

enum class Layer { Clear, Tls };

// Serves the bind, reads the search and trickles kLongEntry.
struct TricklingServer {
  explicit TricklingServer(Layer layer) : layer(layer) {
    if (layer == Layer::Clear) {
      clear.TimeLimitMs = 30000;
      clear.ReadMessage().Send(kBindOk).ReadMessage().Trickle(kLongEntry, kEveryMs);
    } else {
      const std::string certs = TestCertificates();
      setenv("SSL_CERT_FILE", (certs + "/ca.pem").c_str(), 1);
      tls = std::make_unique<TlsPeer>(certs + "/good.pem", certs + "/good.key");
      tls->TimeLimitMs = 30000;
      tls->ReadMessage().Send(kBindOk).ReadMessage().SendTrickled(kLongEntry, kEveryMs);
    }
  }
  bool Start() { return layer == Layer::Clear ? clear.Start() : tls->Start(); }
  int Port() const { return layer == Layer::Clear ? clear.Port() : tls->Port(); }
  Layer layer;
  FakeServer clear;
  std::unique_ptr<TlsPeer> tls;
};

}  // namespace

TEST(WaitRule, ATrickledMessageTimesOutAndACancelIsSeenWhileOctetsArrive) {
  struct Case {
    const char* what;
    Layer layer;
    bool cancel;  // else the time-out ends it
  } cases[] = {
      {"clear, time-out", Layer::Clear, false},
      {"clear, cancel", Layer::Clear, true},
      {"TLS, time-out", Layer::Tls, false},
      {"TLS, cancel", Layer::Tls, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TricklingServer srv(c.layer);
    ASSERT_TRUE(srv.Start());
    std::atomic<bool> cancel{false};
    TLDAPSend ldap;
    ldap.TargetPort = std::to_string(srv.Port());
    ldap.FullSSL = c.layer == Layer::Tls;
    ldap.CancelFlag = &cancel;
    // A cancelled search would wait 20 s; a timed-out one 1.5 s.
    ldap.Timeout = c.cancel ? 20000 : 1500;
    ASSERT_TRUE(ldap.Connect());
    ASSERT_TRUE(ldap.Bind());
    std::thread user;
    if (c.cancel) {
      user = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        cancel = true;
      });
    }
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(ldap.Search("dc=quorvel,dc=test", false, "(cn=*)", {"cn"}));
    const long long ms = ElapsedMs(t0);
    if (user.joinable()) user.join();
    EXPECT_EQ(ldap.SearchResult().Count(), 0);
    EXPECT_EQ(ldap.ResultCode(), -1);
    EXPECT_EQ(ldap.Sock()->LastError(), c.cancel ? 10053 : 10060);
    EXPECT_EQ(ldap.Cancelled(), c.cancel);
    // Both end near their moment (0.7 s, 1.5 s), long before the entry would
    // be whole; the margins allow for a busy machine.
    EXPECT_GE(ms, c.cancel ? 600 : 1400);
    EXPECT_LT(ms, 5000);
  }
}

// A response in many quick pieces, each well inside the time-out, is not cut:
// the deadline is for the message, and it is met.
TEST(WaitRule, AMessageInPiecesWithinTheTimeOutIsRead) {
  FakeServer srv;
  const std::string done("\x30\x0c\x02\x01\x02\x65\x07\x0a\x01\x00\x04\x00\x04\x00", 14);
  srv.ReadMessage()
      .Send(kBindOk)
      .ReadMessage()
      .Trickle(kLongEntry.substr(0, 40), 5)
      .Send(kLongEntry.substr(40))
      .Trickle(done, 5);
  ASSERT_TRUE(srv.Start());
  TLDAPSend ldap;
  ldap.TargetPort = std::to_string(srv.Port());
  ldap.Timeout = 3000;
  ASSERT_TRUE(ldap.Connect());
  ASSERT_TRUE(ldap.Bind());
  EXPECT_TRUE(ldap.Search("dc=quorvel,dc=test", false, "(cn=*)", {"cn"}));
  ASSERT_EQ(ldap.SearchResult().Count(), 1);
  EXPECT_EQ(ldap.SearchResult().Items(0)->ObjectName(), "cn=slow");
}

// The rule itself on a socket pair: a wait of 0 ms still looks once; a
// message's deadline runs from its first octet and ends a longer wait; a
// set flag ends a wait without limit within the slice.
TEST(WaitRule, LimitsOfOneWait) {
  using quorvel::net::TWaitEnd;
  using quorvel::net::TWaitRule;
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  std::atomic<bool> flag{false};
  struct Case {
    const char* what;
    bool readable, cancel;
    int message;  // the message's time-out (0: no message)
    int wait;     // the wait's own limit
    TWaitEnd end;
    long long atLeast, below;  // ms
  } cases[] = {
      {"0 ms, octets there", true, false, 0, 0, TWaitEnd::Ready, 0, 1000},
      {"0 ms, silence", false, false, 0, 0, TWaitEnd::TimedOut, 0, 1000},
      {"message deadline", false, false, 300, 20000, TWaitEnd::TimedOut, 250, 3000},
      {"cancel, no limit", false, true, 0, -1, TWaitEnd::Cancelled, 0, 2000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.readable) {
      ASSERT_EQ(::write(fds[1], "x", 1), 1);
    }
    TWaitRule rule;
    rule.CancelFlag = &flag;
    flag = c.cancel;
    if (c.message > 0) rule.BeginMessage(c.message, true);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(rule.Wait(fds[0], POLLIN, c.wait), c.end);
    const long long ms = ElapsedMs(t0);
    EXPECT_GE(ms, c.atLeast);
    EXPECT_LT(ms, c.below);
    char drain[8];
    if (c.readable) {
      ASSERT_EQ(::read(fds[0], drain, sizeof drain), 1);
    }
  }
  ::close(fds[0]);
  ::close(fds[1]);
}
