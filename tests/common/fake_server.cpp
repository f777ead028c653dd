#include "common/fake_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace quorvel::test {

namespace {
long long NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
}  // namespace

FakeServer::FakeServer() = default;

FakeServer::~FakeServer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listen_ >= 0) ::close(listen_);
}

FakeServer& FakeServer::Expect(size_t count) {
  steps_.push_back({Kind::Expect, count, {}, 0, {}});
  return *this;
}
FakeServer& FakeServer::ReadMessage() {
  steps_.push_back({Kind::ReadMessage, 0, {}, 0, {}});
  return *this;
}
FakeServer& FakeServer::Send(std::string bytes) {
  steps_.push_back({Kind::Send, 0, std::move(bytes), 0, {}});
  return *this;
}
FakeServer& FakeServer::Sleep(int ms) {
  steps_.push_back({Kind::Sleep, 0, {}, ms, {}});
  return *this;
}
FakeServer& FakeServer::Trickle(std::string bytes, int everyMs) {
  steps_.push_back({Kind::Trickle, 0, std::move(bytes), everyMs, {}});
  return *this;
}
FakeServer& FakeServer::Close() {
  steps_.push_back({Kind::Close, 0, {}, 0, {}});
  return *this;
}
FakeServer& FakeServer::Serve(Handler handler) {
  steps_.push_back({Kind::Serve, 0, {}, 0, std::move(handler)});
  return *this;
}

bool FakeServer::Start(bool ipv6) {
  listen_ = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_ < 0) return false;
  int one = 1;
  ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_storage ss{};
  socklen_t len = ipv6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  if (ipv6) {
    auto* a6 = reinterpret_cast<sockaddr_in6*>(&ss);
    a6->sin6_family = AF_INET6;
    a6->sin6_addr = in6addr_loopback;
  } else {
    auto* a4 = reinterpret_cast<sockaddr_in*>(&ss);
    a4->sin_family = AF_INET;
    a4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  }
  if (::bind(listen_, reinterpret_cast<sockaddr*>(&ss), len) != 0 || ::listen(listen_, 4) != 0 ||
      ::getsockname(listen_, reinterpret_cast<sockaddr*>(&ss), &len) != 0)
    return false;
  port_ = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port
                     : reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
  deadline_ = NowMs() + TimeLimitMs;
  thread_ = std::thread([this] { Run(); });
  return true;
}

int FakeServer::MsLeft() const {
  long long left = deadline_ - NowMs();
  return left < 0 ? 0 : static_cast<int>(left);
}

bool FakeServer::ReadWholeMessage(int fd, std::string& got) {
  // tag, first length octet, long-form length octets, content
  peer_closed_ = false;
  bool ok = ReadExact(fd, 2, got);
  size_t len = 0;
  if (ok) {
    unsigned char l = static_cast<unsigned char>(got[1]);
    if (l < 0x80) {
      len = l;
    } else {
      size_t n = l & 0x7F;
      ok = n <= 4 && ReadExact(fd, n, got);
      for (size_t k = 0; ok && k < n; ++k)
        len = (len << 8) | static_cast<unsigned char>(got[2 + k]);
    }
  }
  return ok && ReadExact(fd, len, got);
}

bool FakeServer::SendAll(int fd, const std::string& bytes) {
  size_t pos = 0;
  while (pos < bytes.size()) {
    ssize_t r = ::send(fd, bytes.data() + pos, bytes.size() - pos, MSG_NOSIGNAL);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    pos += static_cast<size_t>(r);
  }
  return true;
}

bool FakeServer::ReadExact(int fd, size_t n, std::string& out) {
  while (n > 0) {
    if (stop_) return false;
    pollfd p{fd, POLLIN, 0};
    int left = MsLeft();
    if (left == 0) return false;
    int rc = ::poll(&p, 1, left < 100 ? left : 100);
    if (rc < 0 && errno != EINTR) return false;
    if (rc <= 0) continue;
    char buf[65536];
    ssize_t r = ::recv(fd, buf, n < sizeof buf ? n : sizeof buf, 0);
    if (r == 0 || (r < 0 && errno == ECONNRESET)) peer_closed_ = true;
    if (r <= 0) return false;
    out.append(buf, static_cast<size_t>(r));
    n -= static_cast<size_t>(r);
  }
  return true;
}

void FakeServer::Run() {
  auto fail = [this](const std::string& why) {
    std::lock_guard<std::mutex> lock(mu_);
    error_ = why;
  };
  int fd = -1;
  while (fd < 0) {
    if (stop_ || MsLeft() == 0) {
      fail("no connection");
      done_ = true;
      return;
    }
    pollfd p{listen_, POLLIN, 0};
    if (::poll(&p, 1, 50) > 0) fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
  }
  bool ok = true;
  for (size_t i = 0; i < steps_.size() && ok; ++i) {
    const Step& s = steps_[i];
    std::string got;
    switch (s.kind) {
      case Kind::Expect:
        ok = ReadExact(fd, s.count, got);
        if (!ok) fail("step " + std::to_string(i) + ": short read");
        break;
      case Kind::ReadMessage: {
        ok = ReadWholeMessage(fd, got);
        if (!ok) fail("step " + std::to_string(i) + ": no whole message");
        break;
      }
      case Kind::Send: {
        ok = SendAll(fd, s.bytes);
        if (!ok) fail("step " + std::to_string(i) + ": send failed");
        break;
      }
      case Kind::Serve: {
        // Until the client closes: a read that fails with the connection
        // ended by the peer completes the step.
        for (;;) {
          std::string request;
          if (!ReadWholeMessage(fd, request)) {
            if (!peer_closed_) {
              ok = false;
              fail("step " + std::to_string(i) + ": no whole message");
            }
            break;
          }
          {
            std::lock_guard<std::mutex> lock(mu_);
            received_.push_back(request);
          }
          std::string reply;
          const bool go_on = s.handler(request, reply);
          if (!SendAll(fd, reply)) break;
          if (!go_on) {
            ::close(fd);
            fd = -1;
            break;
          }
        }
        break;
      }
      case Kind::Trickle:
        // A client that went away ends the trickle; the step still counts.
        for (size_t k = 0; k < s.bytes.size() && !stop_ && MsLeft() > 0; ++k) {
          if (!SendAll(fd, s.bytes.substr(k, 1))) break;
          const long long until = NowMs() + s.ms;
          while (!stop_ && NowMs() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        break;
      case Kind::Sleep: {
        long long until = NowMs() + s.ms;
        while (!stop_ && NowMs() < until) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        break;
      }
      case Kind::Close:
        ::close(fd);
        fd = -1;
        break;
    }
    if (s.kind == Kind::Expect || s.kind == Kind::ReadMessage) {
      std::lock_guard<std::mutex> lock(mu_);
      received_.push_back(got);
    }
    if (fd < 0 && i + 1 < steps_.size()) {
      ok = false;
      fail("steps after Close");
    }
  }
  if (fd >= 0) ::close(fd);
  {
    std::lock_guard<std::mutex> lock(mu_);
    completed_ = ok;
  }
  done_ = true;
}

bool FakeServer::Finish() {
  if (thread_.joinable()) {
    // Bounded: the thread itself ends at its deadline; stop it if we are late.
    while (!done_ && MsLeft() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    stop_ = true;
    thread_.join();
  }
  std::lock_guard<std::mutex> lock(mu_);
  return completed_;
}

std::vector<std::string> FakeServer::Received() const {
  std::lock_guard<std::mutex> lock(mu_);
  return received_;
}

std::string FakeServer::Error() const {
  std::lock_guard<std::mutex> lock(mu_);
  return error_;
}

}  // namespace quorvel::test
