#include "net/waitrule.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>

#include "net/blocksocket.h"

namespace quorvel::net {

void TWaitRule::BeginMessage(int timeout, bool started) {
  inMessage_ = true;
  started_ = false;
  timeout_ = timeout;
  if (started) Arrived();
}

void TWaitRule::Arrived() {
  if (!inMessage_ || started_) return;
  started_ = true;
  start_ = TickCount();
}

int TWaitRule::MessageLeft() const {
  if (!inMessage_ || !started_ || timeout_ < 0) return -1;
  return TimeLeft(start_, timeout_);
}

TWaitEnd TWaitRule::Check() const {
  if (Cancelled()) return TWaitEnd::Cancelled;
  return MessageLeft() == 0 ? TWaitEnd::TimedOut : TWaitEnd::Ready;
}

TWaitEnd TWaitRule::Wait(int fd, short events, int timeout) {
  errno_ = 0;
  const uint32_t start = TickCount();
  for (;;) {
    const TWaitEnd now = Check();
    if (now != TWaitEnd::Ready) return now;
    // The nearest of the wait's own limit, the message's deadline and, when
    // something may cancel, the next look at the flag.
    int left = TimeLeft(start, timeout);
    const int message = MessageLeft();
    if (message >= 0) left = left < 0 ? message : std::min(left, message);
    const bool sliced = CancelFlag != nullptr || message >= 0;
    const int slice = sliced ? (left < 0 ? kSliceMs : std::min(left, kSliceMs)) : left;
    pollfd p{fd, events, 0};
    const int rc = ::poll(&p, 1, slice);
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0) {
      errno_ = errno;
      return TWaitEnd::Failed;
    }
    if (rc > 0) {
      if (p.revents & (POLLIN | POLLHUP | POLLERR)) Arrived();
      return TWaitEnd::Ready;
    }
    // The limit is over once the socket has been looked at (even a wait of
    // 0 ms looks once).
    if (timeout >= 0 && left == 0) return TWaitEnd::TimedOut;
  }
}

}  // namespace quorvel::net
