// A scripted TLS server for faults a real directory server won't produce on
// demand: a connection that dies in the middle of a TLS record, and servers
// presenting whatever certificate a test made (self-signed, for another host,
// expired). It copies what a real LDAPS server does on the wire: a TLS
// handshake right after the TCP connect, then LDAP messages inside records.
//
// It listens on 127.0.0.1, accepts ONE connection on its own thread, runs the
// server side of the handshake with the given certificate and key (PEM files)
// and then plays its script over the TLS session:
//   quorvel::test::TlsPeer peer("good.pem", "good.key");
//   peer.ReadMessage()                  // one whole BER message, decrypted
//       .Send(bindResponse)             // encrypted in one record
//       .ReadMessage()
//       .SendHalfRecord(searchEntry)    // the first half of the record only ...
//       .Sleep(3000);                   // ... then silence, the connection open
//   ASSERT_TRUE(peer.Start());
//   connect to 127.0.0.1:peer.Port() with SSL
//   peer.Finish();
// Handshake() is true once the server side finished its handshake. OpenSSL is
// bound at run time, as in the program. Everything is bounded by TimeLimitMs
// (default 10 s); the destructor stops the thread and closes the sockets.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace quorvel::test {

class TlsPeer {
 public:
  TlsPeer(std::string certFile, std::string keyFile);
  ~TlsPeer();
  TlsPeer(const TlsPeer&) = delete;
  TlsPeer& operator=(const TlsPeer&) = delete;

  TlsPeer& ReadMessage();
  TlsPeer& Send(std::string plain);
  TlsPeer& SendHalfRecord(std::string plain);
  // `plain` in one whole record and, in the same write (so that both arrive
  // together), what ends the session:
  //   SendWithDamagedRecord: a second record of the same octets with its last
  //     octet (part of its integrity tag) flipped, as if damaged on the way;
  //   SendWithCloseNotify: the TLS close_notify, the connection left open;
  //   SendThenHangUp: no close_notify, the connection closed for writing.
  TlsPeer& SendWithDamagedRecord(std::string plain);
  TlsPeer& SendWithCloseNotify(std::string plain);
  TlsPeer& SendThenHangUp(std::string plain);
  TlsPeer& Sleep(int ms);
  // `plain` in one record whose octets go out one at a time, everyMs apart.
  TlsPeer& SendTrickled(std::string plain, int everyMs);

  // Binds 127.0.0.1:port (0: any free port) and starts the thread; false
  // when OpenSSL or the certificate could not be loaded or the socket failed
  // (see Error()). A port an earlier peer used can be taken again.
  bool Start(int port = 0);
  int Port() const { return port_; }
  // Waits for the script to end (bounded); true when every step completed.
  bool Finish();
  bool Handshake() const { return handshake_; }
  std::string Error() const;

  int TimeLimitMs = 10000;

 private:
  struct Step {
    int kind;
    std::string bytes;
    int ms = 0;
  };
  struct Tls;
  void Run();
  std::string cert_, key_;
  std::vector<Step> steps_;
  std::unique_ptr<Tls> tls_;
  int listen_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> done_{false};
  std::atomic<bool> handshake_{false};
  bool completed_ = false;
  std::string error_;
  long long deadline_ = 0;
};

// The folder of the certificates made by tests/common/make-test-certs.sh for
// this test run (made once, on first use; empty when openssl failed):
// ca.pem, good, renewed, self, other, expired, mixed, markup (.pem and .key each).
std::string TestCertificates();

}  // namespace quorvel::test
