#include "common/recording_proxy.h"

#include "common/loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace quorvel::test {

RecordingProxy::RecordingProxy(std::string host, int port)
    : host_(std::move(host)), targetPort_(port) {}

RecordingProxy::~RecordingProxy() {
  Stop();
}

bool RecordingProxy::Start() {
  listen_ = ListenOnLoopback(0, 1, port_);
  if (listen_ < 0) return false;
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
  const long long deadline = NowMs() + TimeLimitMs;
  auto left = [&] { return static_cast<int>(std::clamp(deadline - NowMs(), 0LL, 100LL)); };
  const int client = AcceptOne(listen_, stop_, deadline);
  if (client < 0) return;
  const int server = ConnectTo(host_, targetPort_);
  if (server < 0) {
    ::close(client);
    return;
  }
  char buf[65536];
  bool open = true;
  while (open && !stop_ && NowMs() < deadline) {
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
      if (!SendAll(to, std::string_view(buf, static_cast<size_t>(n)))) open = false;
    }
  }
  ::close(client);
  ::close(server);
}

}  // namespace quorvel::test
