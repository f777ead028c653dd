// The socket steps the test servers and relays in tests/common share: a
// listening socket on 127.0.0.1, one connection accepted within a deadline,
// a connection to the relayed server, and a write of every octet.
// Every call gives -1 or false on failure and never raises.
//
//   int port = 0;
//   const int listen = ListenOnLoopback(0, 1, port);   // any free port
//   const int client = AcceptOne(listen, stop, NowMs() + 30000);
//   const int server = ConnectTo("127.0.0.1", targetPort);
#pragma once

#include <atomic>
#include <string>
#include <string_view>

namespace quorvel::test {

// Milliseconds of a steady clock.
long long NowMs();
// A socket listening on 127.0.0.1:port (0: any free one, put into `bound`).
int ListenOnLoopback(int port, int backlog, int& bound);
// The first connection to `listen` before `deadlineMs` (NowMs) or a stop.
int AcceptOne(int listen, const std::atomic<bool>& stop, long long deadlineMs);
// A connection to host:port (an IPv4 address).
int ConnectTo(const std::string& host, int port);
// Writes every octet; false when the peer went away.
bool SendAll(int fd, std::string_view bytes);

}  // namespace quorvel::test
