// A TCP relay on 127.0.0.1 in front of a real server that meddles with what
// the server sends, as a man in the middle does on the wire: it adds forged
// octets to a piece of the server's answer (in the same write, or later in a
// write of their own) and can hand the server's octets on one at a time.
// The client's octets are relayed unchanged. A real server does neither, so
// the faults come from here while the sign-in and the sealing stay real.
//
//   quorvel::test::MeddlingProxy proxy("127.0.0.1", serverPort);
//   proxy.OnServer = [&](std::string& piece) {   // on the relay's thread
//     if (IsTheLastBindResponse(piece)) piece += forged;   // same segment
//     // or proxy.InjectLater(forged, 300);  or proxy.TrickleMs = 40;
//   };
//   ASSERT_TRUE(proxy.Start());
//   connect the client to "127.0.0.1", proxy.Port()
//   proxy.Stop();                               // also done by the destructor
//
// It accepts one connection and relays until either side closes, Stop() is
// called or TimeLimitMs (default 30 s) has passed.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace quorvel::test {

class MeddlingProxy {
 public:
  MeddlingProxy(std::string host, int port);
  ~MeddlingProxy();
  MeddlingProxy(const MeddlingProxy&) = delete;
  MeddlingProxy& operator=(const MeddlingProxy&) = delete;

  bool Start();
  void Stop();
  int Port() const { return port_; }

  // Each piece read from the server, before it is passed on; what it leaves
  // in the piece is what the client gets. Set before Start.
  std::function<void(std::string& piece)> OnServer;
  // Above 0: the server's octets (from here on) go to the client one at a
  // time, this many milliseconds apart.
  std::atomic<int> TrickleMs{0};
  // From OnServer: octets sent to the client in a write of their own, ms
  // after now (after the piece at hand), ahead of anything the server sends
  // later.
  void InjectLater(std::string octets, int ms);

  int TimeLimitMs = 30000;

 private:
  struct Later {
    long long at;
    std::string octets;
  };
  void Run();
  // Passes on what is due to the client; false when the client has gone.
  bool Flush(int client, long long now);
  std::string host_;
  int targetPort_;
  int listen_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::string toClient_;
  std::string held_;  // the server's, behind an injection still to come
  std::vector<Later> later_;
  long long nextOctet_ = 0;
};

}  // namespace quorvel::test
