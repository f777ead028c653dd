// The one rule for waiting on a connection, used by the clear, TLS and SASL
// paths of TTCPBlockSocket alike.
//
// Every wait of a socket for its peer (readable or writable) goes through
// Wait, which
//   - looks at CancelFlag at least every kSliceMs, however the peer sends
//     (nothing, or one octet at a time): a set flag ends the wait with
//     Cancelled, which the socket reports as 10053;
//   - ends at the wait's own limit (the receive's time-out) with TimedOut,
//     which the socket reports as 10060;
//   - while a message is being received (BeginMessage .. EndMessage), ends
//     with TimedOut once `timeout` ms have passed since the first sign of the
//     message's octets (Arrived(): octets read, or a wait that found them),
//     whatever arrived meanwhile. Before that first sign only the wait's own
//     limit counts, so a silent peer times out as before.
// Check() applies the same two tests without waiting, for a loop that reads
// octets already there.
//
// Limits: one message at a time; a time-out below 0 means no limit. Nothing
// throws. Used by one thread at a time (CancelFlag may be set from any).
//
//   socket.WaitRule().CancelFlag = &stop;            // the user's Stop
//   socket.WaitRule().BeginMessage(60000, false);    // a response begins
//   ... socket.ReceivePacket(60000) until the message is whole ...
//   socket.WaitRule().EndMessage();
#pragma once

#include <atomic>
#include <cstdint>

namespace quorvel::net {

enum class TWaitEnd {
  Ready,      // the socket is ready (or in error: the next call reports it)
  TimedOut,   // the wait's limit or the message's deadline ran out
  Cancelled,  // CancelFlag was set
  Failed,     // poll() failed; Errno() tells why
};

class TWaitRule {
 public:
  // Longest a wait goes without looking at CancelFlag (ms).
  static constexpr int kSliceMs = 100;

  // Not owned; nullptr: nothing cancels.
  const std::atomic<bool>* CancelFlag = nullptr;

  // A message begins; `started`: some of its octets are already at hand.
  void BeginMessage(int timeout, bool started);
  void EndMessage() { inMessage_ = false; }
  // The first octets of the message in progress are here (from the first
  // call on, the message's deadline runs).
  void Arrived();
  bool Cancelled() const { return CancelFlag && CancelFlag->load(); }
  // Cancelled or TimedOut when the flag is set or the message's deadline has
  // passed, else Ready.
  TWaitEnd Check() const;
  // Waits until fd is ready for events (POLLIN, POLLOUT) for at most timeout
  // ms (below 0: no limit of its own), as the rule above says.
  TWaitEnd Wait(int fd, short events, int timeout);
  int Errno() const { return errno_; }

 private:
  // Milliseconds the message may still take (-1: no deadline running).
  int MessageLeft() const;
  bool inMessage_ = false;
  bool started_ = false;
  int timeout_ = -1;
  uint32_t start_ = 0;
  int errno_ = 0;
};

}  // namespace quorvel::net
