// A TCP relay on 127.0.0.1 that records what passes, to check what a client
// sends over the wire (a real server on the other side).
//
//   quorvel::test::RecordingProxy proxy("127.0.0.1", serverPort);
//   ASSERT_TRUE(proxy.Start());
//   connect the client to "127.0.0.1" (or "localhost"), proxy.Port()
//   ... client work, client closes ...
//   proxy.Stop();                       // joins; also done by the destructor
//   proxy.FromClient(), proxy.FromServer()   // every octet relayed, in order
//
// It accepts one connection, connects to the target and relays both ways until
// either side closes, Stop() is called or TimeLimitMs (default 30 s) has passed.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace quorvel::test {

class RecordingProxy {
 public:
  RecordingProxy(std::string host, int port);
  ~RecordingProxy();
  RecordingProxy(const RecordingProxy&) = delete;
  RecordingProxy& operator=(const RecordingProxy&) = delete;

  bool Start();
  void Stop();
  int Port() const { return port_; }
  std::string FromClient() const;
  std::string FromServer() const;

  int TimeLimitMs = 30000;

 private:
  void Run();
  std::string host_;
  int targetPort_;
  int listen_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mu_;
  std::string fromClient_, fromServer_;
};

}  // namespace quorvel::test
