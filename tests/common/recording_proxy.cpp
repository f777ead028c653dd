#include "common/recording_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace quorvel::test {

RecordingProxy::RecordingProxy(std::string host, int port)
    : host_(std::move(host)), targetPort_(port) {}

RecordingProxy::~RecordingProxy() {
  Stop();
}

bool RecordingProxy::Start() {
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

void RecordingProxy::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listen_ >= 0) ::close(listen_);
  listen_ = -1;
}

std::string RecordingProxy::FromClient() const {
  std::lock_guard<std::mutex> lock(mu_);
  return fromClient_;
}

std::string RecordingProxy::FromServer() const {
  std::lock_guard<std::mutex> lock(mu_);
  return fromServer_;
}

void RecordingProxy::Run() {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(TimeLimitMs);
  auto left = [&] {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return ms < 0 ? 0 : static_cast<int>(std::min<long long>(ms, 100));
  };
  int client = -1;
  while (client < 0 && !stop_ && Clock::now() < deadline) {
    pollfd p{listen_, POLLIN, 0};
    if (::poll(&p, 1, left()) > 0) client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
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
  char buf[65536];
  bool open = true;
  while (open && !stop_ && Clock::now() < deadline) {
    pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    if (::poll(p, 2, left()) <= 0) continue;
    for (int i = 0; i < 2 && open; ++i) {
      if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const int from = i == 0 ? client : server, to = i == 0 ? server : client;
      const ssize_t n = ::recv(from, buf, sizeof buf, 0);
      if (n <= 0) {
        open = false;
        break;
      }
      {
        std::lock_guard<std::mutex> lock(mu_);
        (i == 0 ? fromClient_ : fromServer_).append(buf, static_cast<size_t>(n));
      }
      for (ssize_t sent = 0; sent < n;) {
        const ssize_t w = ::send(to, buf + sent, static_cast<size_t>(n - sent), MSG_NOSIGNAL);
        if (w <= 0) {
          open = false;
          break;
        }
        sent += w;
      }
    }
  }
  ::close(client);
  ::close(server);
}

}  // namespace quorvel::test
