#include "common/meddling_proxy.h"

#include "common/loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

namespace quorvel::test {

MeddlingProxy::MeddlingProxy(std::string host, int port)
    : host_(std::move(host)), targetPort_(port) {}

MeddlingProxy::~MeddlingProxy() {
  Stop();
}

bool MeddlingProxy::Start() {
  listen_ = ListenOnLoopback(0, 1, port_);
  if (listen_ < 0) return false;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void MeddlingProxy::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listen_ >= 0) ::close(listen_);
  listen_ = -1;
}

void MeddlingProxy::InjectLater(std::string octets, int ms) {
  later_.push_back({NowMs() + ms, std::move(octets)});
}

bool MeddlingProxy::Flush(int client, long long now) {
  // Injections that are due go first, each in a write of its own.
  for (auto it = later_.begin(); it != later_.end();) {
    if (it->at > now) {
      ++it;
      continue;
    }
    if (!SendAll(client, it->octets)) return false;
    it = later_.erase(it);
  }
  // What the server sent after an injection was asked for follows it.
  if (later_.empty() && !held_.empty()) {
    toClient_ += held_;
    held_.clear();
  }
  if (toClient_.empty()) return true;
  if (TrickleMs <= 0) {
    const bool ok = SendAll(client, toClient_);
    toClient_.clear();
    return ok;
  }
  if (now < nextOctet_) return true;
  if (!SendAll(client, toClient_.substr(0, 1))) return false;
  toClient_.erase(0, 1);
  nextOctet_ = now + TrickleMs;
  return true;
}

void MeddlingProxy::Run() {
  const long long deadline = NowMs() + TimeLimitMs;
  const int client = AcceptOne(listen_, stop_, deadline);
  if (client < 0) return;
  const int server = ConnectTo(host_, targetPort_);
  if (server < 0) {
    ::close(client);
    return;
  }
  // Each write to the client leaves at once, so that what is sent together
  // arrives together and a trickle is one octet per segment.
  const int one = 1;
  ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  char buf[65536];
  bool open = true;
  while (open && !stop_ && NowMs() < deadline) {
    const bool waiting = !toClient_.empty() || !later_.empty();
    pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    if (::poll(p, 2, waiting ? 5 : 50) > 0) {
      for (int i = 0; i < 2 && open; ++i) {
        if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        const ssize_t n = ::recv(i == 0 ? client : server, buf, sizeof buf, 0);
        if (n <= 0) {
          open = false;
          break;
        }
        std::string piece(buf, static_cast<size_t>(n));
        if (i == 0) {
          open = SendAll(server, piece);
        } else {
          const bool behindInjection = !later_.empty();
          if (OnServer) OnServer(piece);
          (behindInjection ? held_ : toClient_) += piece;
        }
      }
    }
    if (open) open = Flush(client, NowMs());
  }
  ::close(client);
  ::close(server);
}

}  // namespace quorvel::test
