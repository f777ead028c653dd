// A scripted fake LDAP/TCP server for faults a real server won't produce
// (truncated messages, wrong message ids, garbage, closing mid-search, silence).
//
// It listens on 127.0.0.1 (or ::1) on a free port, accepts ONE connection on its own
// thread and plays a script of steps on it, in order:
//   quorvel::test::FakeServer srv;
//   srv.ReadMessage()                 // read one whole BER message (e.g. a bind request)
//      .Send(std::string("\x30\x0c...", 14))   // answer raw bytes
//      .Expect(7)                     // read exactly 7 bytes
//      .Sleep(300)                    // stay silent 300 ms
//      .Trickle(entry, 50)            // one octet every 50 ms
//      .Close();                      // close the connection (also done at the end)
//   srv.Serve(handler);               // or: answer every further message through
//                                     // handler(request, reply) until the client
//                                     // closes (false from handler closes first)
//   srv.Start();                      // binds and starts the thread
//   connect to "127.0.0.1", std::to_string(srv.Port())
//   ...
//   EXPECT_TRUE(srv.Finish());        // joins; true when every step ran
//   srv.Received()                    // what each Expect/ReadMessage step read
//
// Everything is bounded in time: each read waits at most TimeLimitMs (default
// 10 s) and the whole script ends at that limit after Start. The destructor
// stops the thread and closes the sockets. Send stops quietly if the client has
// gone (no SIGPIPE).
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quorvel::test {

class FakeServer {
 public:
  FakeServer();
  ~FakeServer();
  FakeServer(const FakeServer&) = delete;
  FakeServer& operator=(const FakeServer&) = delete;

  // Script steps (added before Start).
  FakeServer& Expect(size_t count);
  FakeServer& ReadMessage();
  FakeServer& Send(std::string bytes);
  FakeServer& Sleep(int ms);
  // Sends bytes one octet at a time, everyMs apart (a server that trickles);
  // stops quietly when the client has gone or the script is stopped.
  FakeServer& Trickle(std::string bytes, int everyMs);
  FakeServer& Close();
  // Reads message after message and sends what handler puts in reply; ends
  // when the client closes the connection (a completed step) or handler
  // returns false (reply is sent, then the connection closed). Each request is
  // recorded in Received().
  using Handler = std::function<bool(const std::string& request, std::string& reply)>;
  FakeServer& Serve(Handler handler);

  // Binds 127.0.0.1:0 (or [::1]:0) and starts the thread; false when the
  // socket failed (for example no IPv6 loopback).
  bool Start(bool ipv6 = false);
  int Port() const { return port_; }
  // Waits for the script to end (bounded); true when every step completed.
  bool Finish();
  // The bytes read by each Expect/ReadMessage step, in order.
  std::vector<std::string> Received() const;
  // Why the script stopped early (empty when it completed).
  std::string Error() const;

  int TimeLimitMs = 10000;

 private:
  enum class Kind { Expect, ReadMessage, Send, Sleep, Close, Serve, Trickle };
  struct Step {
    Kind kind;
    size_t count = 0;
    std::string bytes;
    int ms = 0;
    Handler handler;
  };
  void Run();
  // One whole BER message; false when the connection ended or failed first.
  bool ReadWholeMessage(int fd, std::string& out);
  bool SendAll(int fd, const std::string& bytes);
  bool ReadExact(int fd, size_t n, std::string& out);
  int MsLeft() const;

  std::vector<Step> steps_;
  int listen_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> done_{false};
  bool completed_ = false;
  bool peer_closed_ = false;  // the last failed read saw the client close
  long long deadline_ = 0;
  mutable std::mutex mu_;
  std::vector<std::string> received_;
  std::string error_;
};

// Milliseconds since `since` (for bounding how long a client call took).
inline long long ElapsedMs(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               since)
      .count();
}

}  // namespace quorvel::test
