#include "common/meddling_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

namespace quorvel::test {
namespace {

long long NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool SendAll(int fd, const std::string& bytes) {
  for (size_t sent = 0; sent < bytes.size();) {
    const ssize_t w = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (w <= 0) return false;
    sent += static_cast<size_t>(w);
  }
  return true;
}

}  // namespace

MeddlingProxy::MeddlingProxy(std::string host, int port)
    : host_(std::move(host)), targetPort_(port) {}

MeddlingProxy::~MeddlingProxy() {
  Stop();
}

bool MeddlingProxy::Start() {
  listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_ < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(listen_, 1) != 0 ||
      ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
    return false;
  port_ = ntohs(a.sin_port);
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
  int client = -1;
  while (client < 0 && !stop_ && NowMs() < deadline) {
    pollfd p{listen_, POLLIN, 0};
    if (::poll(&p, 1, 50) > 0) client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
  }
  if (client < 0) return;
  const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in t{};
  t.sin_family = AF_INET;
  t.sin_port = htons(static_cast<uint16_t>(targetPort_));
  ::inet_pton(AF_INET, host_.c_str(), &t.sin_addr);
  if (server < 0 || ::connect(server, reinterpret_cast<sockaddr*>(&t), sizeof t) != 0) {
    ::close(client);
    if (server >= 0) ::close(server);
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
