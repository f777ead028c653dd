// The blocking socket against loopback: the scripted fake server plays the
// peer, so partial packets, closes and silences happen exactly when wanted.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/fake_server.h"
#include "net/blocksocket.h"

using quorvel::test::FakeServer;

namespace {

void ConnectTo(TTCPBlockSocket& s, const FakeServer& srv) {
  s.BindLocal("0.0.0.0", "0");
  s.ConnectTo("127.0.0.1", std::to_string(srv.Port()));
  ASSERT_EQ(s.LastError(), 0) << s.LastErrorText();
}

// A loopback port nobody listens on: bound and released again.
int UnusedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

}  // namespace

TEST(ErrorCodes, TextsAndSystemMapping) {
  EXPECT_EQ(TBlockSocket::GetErrorDesc(0), "");
  EXPECT_EQ(TBlockSocket::GetErrorDesc(10053), "Software caused connection abort");
  EXPECT_EQ(TBlockSocket::GetErrorDesc(10054), "Connection reset by peer");
  EXPECT_EQ(TBlockSocket::GetErrorDesc(10060), "Connection timed out");
  EXPECT_EQ(TBlockSocket::GetErrorDesc(10091), "Network subsystem is unusable");
  EXPECT_EQ(TBlockSocket::GetErrorDesc(11004), "Valid name, no data record of requested type");
  EXPECT_EQ(TBlockSocket::GetErrorDesc(12345), "Other Winsock error (12345)");
  EXPECT_EQ(quorvel::net::MapSystemError(ECONNREFUSED), 10061);
  EXPECT_EQ(quorvel::net::MapSystemError(ETIMEDOUT), 10060);
  EXPECT_EQ(quorvel::net::MapSystemError(ECONNRESET), 10054);
  EXPECT_EQ(quorvel::net::MapSystemError(EHOSTUNREACH), 10065);
  EXPECT_EQ(quorvel::net::TickDelta(0xFFFFFFF0u, 0x10u), 0x20u);  // across the wrap
}

TEST(Connect, BindLocalAnyCreatesNothingAndRefusedPortIs10061) {
  TTCPBlockSocket s;
  s.BindLocal("0.0.0.0", "0");
  EXPECT_EQ(s.LastError(), 0);
  EXPECT_FALSE(s.HasSocket());
  s.ConnectTo("127.0.0.1", std::to_string(UnusedPort()));
  EXPECT_EQ(s.LastError(), 10061);
  EXPECT_EQ(s.LastErrorText(), "Connection refused");
  // Close resets the error and leaves no socket; the object is reusable.
  s.Close();
  EXPECT_EQ(s.LastError(), 0);
  EXPECT_FALSE(s.HasSocket());
}

TEST(Connect, NamesPreferIPv4AndAddressesAreReadBack) {
  FakeServer srv;  // listens on 127.0.0.1 only
  srv.Expect(1);
  ASSERT_TRUE(srv.Start());
  TTCPBlockSocket s;
  s.ConnectTo("localhost", std::to_string(srv.Port()));
  ASSERT_EQ(s.LastError(), 0) << s.LastErrorText();
  EXPECT_EQ(s.GetRemoteSinIP(), "127.0.0.1");
  EXPECT_EQ(s.GetRemoteSinPort(), srv.Port());
  EXPECT_EQ(s.GetLocalSinIP(), "127.0.0.1");
  EXPECT_GT(s.GetLocalSinPort(), 0);
  EXPECT_EQ(s.Family, SF_IP4);  // narrowed by the resolved address ...
  s.SendBytes("x");
  s.Close();
  EXPECT_EQ(s.Family, SF_Any);  // ... and restored by Close
  EXPECT_TRUE(srv.Finish()) << srv.Error();
}

TEST(Connect, Ipv6LoopbackLiteral) {
  FakeServer srv;
  srv.Expect(2);
  if (!srv.Start(true)) GTEST_SKIP() << "no IPv6 loopback here";
  TTCPBlockSocket s;
  s.ConnectTo("::1", std::to_string(srv.Port()));
  ASSERT_EQ(s.LastError(), 0) << s.LastErrorText();
  EXPECT_EQ(s.Family, SF_IP6);
  EXPECT_EQ(s.GetRemoteSinIP(), "::1");
  EXPECT_EQ(s.GetRemoteSinPort(), srv.Port());
  s.SendBytes("v6");
  EXPECT_TRUE(srv.Finish()) << srv.Error();
  EXPECT_EQ(srv.Received()[0], "v6");
}

TEST(Connect, ConnectionTimeoutBoundsAnUnansweredConnect) {
  // A listener that never accepts, its queue filled: further SYNs go unanswered.
  int l = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(::bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(l, 0), 0);
  ::getsockname(l, reinterpret_cast<sockaddr*>(&a), &len);
  std::vector<int> fillers;
  for (int i = 0; i < 3; ++i) {
    int f = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    ::connect(f, reinterpret_cast<sockaddr*>(&a), sizeof a);
    fillers.push_back(f);
  }
  TTCPBlockSocket s;
  s.ConnectionTimeout = 300;
  const uint32_t t0 = quorvel::net::TickCount();
  s.ConnectTo("127.0.0.1", std::to_string(ntohs(a.sin_port)));
  const uint32_t spent = quorvel::net::TickDelta(t0, quorvel::net::TickCount());
  EXPECT_EQ(s.LastError(), 10060);
  EXPECT_LT(spent, 5000u);
  for (int f : fillers) ::close(f);
  ::close(l);
}

TEST(Connect, UnknownHostIs11001) {
  TTCPBlockSocket s;
  s.ConnectTo("no-such-host.quorvel.invalid", "389");
  EXPECT_EQ(s.LastError(), 11001);
  EXPECT_EQ(s.LastErrorText(), "Host not found");
  EXPECT_FALSE(s.HasSocket());
}

TEST(Receive, ExactAcrossPacketsKeepsSurplusForNextReads) {
  FakeServer srv;
  srv.Send("abc").Sleep(50).Send("defg").Sleep(50).Send("h").Expect(2);
  ASSERT_TRUE(srv.Start());
  TTCPBlockSocket s;
  ConnectTo(s, srv);
  EXPECT_EQ(s.ReceiveExact(0, 1000), "");
  EXPECT_EQ(s.LastError(), 0);
  EXPECT_EQ(s.ReceiveExact(5, 2000), "abcde");
  EXPECT_EQ(s.Buffered(), 2u);
  EXPECT_EQ(s.ReceiveByte(2000), 'f');
  EXPECT_EQ(s.ReceivePacket(2000), "g");  // the rest of the buffer, not the network
  EXPECT_EQ(s.ReceiveByte(2000), 'h');
  s.SendBytes("ok");
  EXPECT_EQ(s.LastError(), 0);
  ASSERT_TRUE(srv.Finish()) << srv.Error();
  EXPECT_EQ(srv.Received().back(), "ok");
}

TEST(Receive, PeerCloseIs10054) {
  FakeServer srv;
  srv.Send("xy").Close();
  ASSERT_TRUE(srv.Start());
  TTCPBlockSocket s;
  ConnectTo(s, srv);
  // A request for more than arrives before the close returns nothing at all.
  EXPECT_EQ(s.ReceiveExact(10, 2000), "");
  EXPECT_EQ(s.LastError(), 10054);
  EXPECT_EQ(s.LastErrorText(), "Connection reset by peer");
  EXPECT_EQ(s.ReceiveByte(2000), 0);
  EXPECT_EQ(s.LastError(), 10054);
  srv.Finish();
}

TEST(Receive, SilenceIs10060AndTheConnectionStaysUsable) {
  FakeServer srv;
  srv.Sleep(400).Send("z").Expect(1);
  ASSERT_TRUE(srv.Start());
  TTCPBlockSocket s;
  ConnectTo(s, srv);
  EXPECT_EQ(s.ReceiveByte(100), 0);
  EXPECT_EQ(s.LastError(), 10060);
  EXPECT_EQ(s.LastErrorText(), "Connection timed out");
  EXPECT_EQ(s.ReceiveByte(3000), 'z');
  EXPECT_EQ(s.LastError(), 0);
  s.SendBytes("!");
  ASSERT_TRUE(srv.Finish()) << srv.Error();
}

TEST(Receive, InterPacketTimeoutBoundsEachGapNotTheWhole) {
  // Four pieces 150 ms apart: 600 ms in all, no gap above the 350 ms time-out.
  auto script = [](FakeServer& srv) {
    srv.Send("1").Sleep(150).Send("2").Sleep(150).Send("3").Sleep(150).Send("4").Sleep(300);
  };
  {
    FakeServer srv;
    script(srv);
    ASSERT_TRUE(srv.Start());
    TTCPBlockSocket s;
    ConnectTo(s, srv);
    EXPECT_EQ(s.ReceiveExact(4, 350), "1234");
    EXPECT_EQ(s.LastError(), 0);
  }
  {
    FakeServer srv;
    script(srv);
    ASSERT_TRUE(srv.Start());
    TTCPBlockSocket s;
    s.InterPacketTimeout = false;  // now the time-out bounds the whole transfer
    ConnectTo(s, srv);
    EXPECT_EQ(s.ReceiveExact(4, 350), "");
    EXPECT_EQ(s.LastError(), 10060);
  }
}

TEST(Send, LargeDataArrivesWholeAndStopFlagAborts) {
  std::string big(1 << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 131 % 251);
  FakeServer srv;
  srv.Expect(big.size());
  ASSERT_TRUE(srv.Start());
  TTCPBlockSocket s;
  ConnectTo(s, srv);
  s.SendBytes(big);
  EXPECT_EQ(s.LastError(), 0);
  EXPECT_EQ(s.SendCounter(), big.size());
  ASSERT_TRUE(srv.Finish()) << srv.Error();
  EXPECT_EQ(srv.Received()[0], big);

  s.StopFlag = true;
  s.SendBytes("x");
  EXPECT_EQ(s.LastError(), 10053);
  EXPECT_FALSE(s.StopFlag);  // cleared by the operation that honoured it
}

TEST(Receive, HugeCountIsRefusedBeforeAllocating) {
  FakeServer srv;
  srv.Sleep(100);
  ASSERT_TRUE(srv.Start());
  TTCPBlockSocket s;
  ConnectTo(s, srv);
  EXPECT_EQ(s.ReceiveExact(MaxReceiveCount + 1, 1000), "");
  EXPECT_EQ(s.LastError(), 10055);
  srv.Finish();
}

TEST(Ssl, Tls11TypeFailsBeforeSendingAnything) {
  FakeServer srv;
  srv.TimeLimitMs = 1500;
  srv.Expect(1);  // nothing may arrive
  ASSERT_TRUE(srv.Start());
  TTCPBlockSocket s;
  ConnectTo(s, srv);
  s.SSL()->SSLType = LT_TLSv1_1;
  s.SslConnect();
  EXPECT_EQ(s.LastError(), 10091);
  EXPECT_FALSE(s.SSL()->SSLEnabled());
  s.Close();
  EXPECT_FALSE(srv.Finish());
  EXPECT_EQ(srv.Received()[0], "");
}

TEST(Ssl, CommonNameAndUnconnectedDefaults) {
  EXPECT_EQ(quorvel::ssl::CommonNameOf("/C=X/CN=ldap1/O=Y"), "ldap1");
  EXPECT_EQ(quorvel::ssl::CommonNameOf("/C=X/CN= spaced name "), "spaced name");
  EXPECT_EQ(quorvel::ssl::CommonNameOf("/C=X/O=Y"), "");
  TTCPBlockSocket s;
  if (IsSSLloaded()) {
    EXPECT_EQ(s.SSL()->LibraryName(), "ssl_openssl");
    EXPECT_EQ(s.SSL()->LibraryVersion().rfind("OpenSSL 3", 0), 0u) << s.SSL()->LibraryVersion();
    EXPECT_EQ(s.SSL()->VerifyResult(), 1);
    EXPECT_EQ(s.SSL()->PeerSubject(), "");
  }
  // No handle: the handshake fails at once.
  s.SslConnect();
  EXPECT_EQ(s.LastError(), 10091);
}
