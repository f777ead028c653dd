#include "net/blocksocket.h"

#include "net/sasllayer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace quorvel::net {

int32_t MapSystemError(int err) {
  switch (err) {
    case 0:
      return 0;
    case EINTR:
      return 10004;
    case EBADF:
      return 10009;
    case EACCES:
    case EPERM:
      return 10013;
    case EFAULT:
      return 10014;
    case EINVAL:
      return 10022;
    case EMFILE:
    case ENFILE:
      return 10024;
    case EAGAIN:
      return 10035;
    case EINPROGRESS:
      return 10036;
    case EALREADY:
      return 10037;
    case ENOTSOCK:
      return 10038;
    case EDESTADDRREQ:
      return 10039;
    case EMSGSIZE:
      return 10040;
    case EPROTOTYPE:
      return 10041;
    case ENOPROTOOPT:
      return 10042;
    case EPROTONOSUPPORT:
      return 10043;
    case ESOCKTNOSUPPORT:
      return 10044;
    case EOPNOTSUPP:
      return 10045;
    case EPFNOSUPPORT:
      return 10046;
    case EAFNOSUPPORT:
      return 10047;
    case EADDRINUSE:
      return 10048;
    case EADDRNOTAVAIL:
      return 10049;
    case ENETDOWN:
      return 10050;
    case ENETUNREACH:
      return 10051;
    case ENETRESET:
      return 10052;
    case ECONNABORTED:
      return 10053;
    case ECONNRESET:
    case EPIPE:
      return 10054;
    case ENOBUFS:
    case ENOMEM:
      return 10055;
    case EISCONN:
      return 10056;
    case ENOTCONN:
      return 10057;
    case ESHUTDOWN:
      return 10058;
    case ETOOMANYREFS:
      return 10059;
    case ETIMEDOUT:
      return 10060;
    case ECONNREFUSED:
      return 10061;
    case ELOOP:
      return 10062;
    case ENAMETOOLONG:
      return 10063;
    case EHOSTDOWN:
      return 10064;
    case EHOSTUNREACH:
      return 10065;
    case ENOTEMPTY:
      return 10066;
    case EUSERS:
      return 10068;
    case EDQUOT:
      return 10069;
    case ESTALE:
      return 10070;
    case EREMOTE:
      return 10071;
    default:
      return err;  // outside the 10000 range: "Other Winsock error (n)"
  }
}

int32_t MapResolverError(int err) {
  switch (err) {
    case 0:
      return 0;
    case EAI_NONAME:
      return 11001;
#ifdef EAI_NODATA
    case EAI_NODATA:
      return 11004;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
      return 11004;
#endif
    case EAI_AGAIN:
      return 11002;
    case EAI_FAIL:
      return 11003;
    case EAI_FAMILY:
      return 10047;
    case EAI_SOCKTYPE:
      return 10044;
    case EAI_BADFLAGS:
      return 10022;
    case EAI_MEMORY:
      return 10055;
    case EAI_SERVICE:
      return 10109;
    case EAI_SYSTEM:
      return MapSystemError(errno);
    default:
      return 11003;
  }
}

uint32_t TickCount() {
  using namespace std::chrono;
  return static_cast<uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

uint32_t TickDelta(uint32_t from, uint32_t to) {
  return to - from;
}  // modulo 2^32

int TimeLeft(uint32_t start, int limit) {
  if (limit < 0) return -1;
  const uint32_t spent = TickDelta(start, TickCount());
  return spent >= static_cast<uint32_t>(limit) ? 0 : limit - static_cast<int>(spent);
}

}  // namespace quorvel::net

using namespace quorvel::net;

namespace {

bool IsIP4Literal(const std::string& host) {
  in_addr a{};
  return inet_pton(AF_INET, host.c_str(), &a) == 1;
}

bool IsIP6Literal(const std::string& host) {
  std::string h = host.substr(0, host.find('%'));
  in6_addr a{};
  return !h.empty() && inet_pton(AF_INET6, h.c_str(), &a) == 1;
}

void AddressText(const sockaddr_storage& ss, std::string& ip, int& port) {
  char buf[INET6_ADDRSTRLEN] = {};
  if (ss.ss_family == AF_INET) {
    const auto* a = reinterpret_cast<const sockaddr_in*>(&ss);
    inet_ntop(AF_INET, &a->sin_addr, buf, sizeof buf);
    port = ntohs(a->sin_port);
  } else if (ss.ss_family == AF_INET6) {
    const auto* a = reinterpret_cast<const sockaddr_in6*>(&ss);
    inet_ntop(AF_INET6, &a->sin6_addr, buf, sizeof buf);
    port = ntohs(a->sin6_port);
  } else {
    port = 0;
  }
  ip = buf;
}

// The largest single read handed to the system.
constexpr int MaxReadChunk = 1 << 20;

}  // namespace

// ---------------------------------------------------------------------------

TBlockSocket::TBlockSocket() = default;

std::string TBlockSocket::TakeBuffered(size_t n) {
  std::string out;
  if (FBufPos == 0 && n == FBuffer.size()) {
    out.swap(FBuffer);
  } else {
    out.assign(FBuffer, FBufPos, n);
    FBufPos += n;
  }
  if (FBufPos >= FBuffer.size()) ClearBuffer();
  return out;
}

TBlockSocket::~TBlockSocket() {
  if (FSocket >= 0) {
    ::shutdown(FSocket, SHUT_RDWR);
    ::close(FSocket);
    FSocket = -1;
  }
}

void TBlockSocket::DoStatus(THookSocketReason reason, const std::string& value) {
  if (OnStatus) OnStatus(this, reason, value);
}

void TBlockSocket::ExceptCheck() {
  FLastErrorText = GetErrorDesc(FLastError);
  if (FLastError != 0 && FLastError != 10035 && FLastError != 10036)
    DoStatus(HR_Error, std::to_string(FLastError) + "," + FLastErrorText);
}

bool TBlockSocket::Resolve(const std::string& host, const std::string& port, bool passive,
                           void* addr, unsigned* addrlen, int* family) {
  const std::string label = host + ":" + port;
  DoStatus(HR_ResolvingBegin, label);
  FLastError = 0;
  int families[2] = {AF_INET, AF_INET6};
  int tries = 1;
  if (FSocket >= 0) {
    families[0] = *family;
  } else if (Family == SF_IP4) {
    families[0] = AF_INET;
  } else if (Family == SF_IP6) {
    families[0] = AF_INET6;
  } else if (IsIP4Literal(host)) {
    families[0] = AF_INET;
  } else if (IsIP6Literal(host)) {
    families[0] = AF_INET6;
  } else {
    tries = 2;
    if (!PreferIP4) std::swap(families[0], families[1]);
  }
  bool ok = false;
  for (int i = 0; i < tries && !ok; ++i) {
    addrinfo hints{};
    hints.ai_family = families[i];
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    const char* node = host.c_str();
    if (host == "0.0.0.0" || host == "::0") {
      node = nullptr;
      hints.ai_flags = AI_PASSIVE;
    } else if (host == "127.0.0.1" || host == "::1") {
      node = nullptr;
    }
    (void)passive;
    addrinfo* res = nullptr;
    int rc = ::getaddrinfo(node, port.empty() ? "0" : port.c_str(), &hints, &res);
    if (rc != 0 || res == nullptr) {
      FLastError = rc != 0 ? MapResolverError(rc) : 11001;
      if (res) ::freeaddrinfo(res);
      continue;
    }
    std::memcpy(addr, res->ai_addr, res->ai_addrlen);
    *addrlen = static_cast<unsigned>(res->ai_addrlen);
    *family = res->ai_family;
    ::freeaddrinfo(res);
    FLastError = 0;
    ok = true;
  }
  DoStatus(HR_ResolvingEnd, label);
  return ok;
}

bool TBlockSocket::CreateSocket(int family) {
  StopFlag = false;
  FRecvCounter = FSendCounter = 0;
  FLastError = 0;
  ClearBuffer();
  FBufPos = 0;
  FFamilySave = Family;
  FSocket = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (FSocket < 0) {
    FLastError = MapSystemError(errno);
    return false;
  }
  if (family == AF_INET) Family = SF_IP4;
  if (family == AF_INET6) Family = SF_IP6;
  DoStatus(HR_SocketCreate, family == AF_INET ? "IPv4" : "IPv6");
  if (OnCreateSocket) OnCreateSocket(this);
  return true;
}

void TBlockSocket::ReadAddresses() {
  sockaddr_storage ss{};
  socklen_t len = sizeof ss;
  if (::getsockname(FSocket, reinterpret_cast<sockaddr*>(&ss), &len) == 0)
    AddressText(ss, FLocalIP, FLocalPort);
  len = sizeof ss;
  ss = {};
  if (::getpeername(FSocket, reinterpret_cast<sockaddr*>(&ss), &len) == 0)
    AddressText(ss, FRemoteIP, FRemotePort);
}

namespace {
// The address family of an existing socket, or 0 (any) when there is none yet,
// so a later bind or connect resolves to an address the socket can use.
int OwnFamily(int socket) {
  if (socket < 0) return 0;
  sockaddr_storage own{};
  socklen_t len = sizeof own;
  if (::getsockname(socket, reinterpret_cast<sockaddr*>(&own), &len) != 0) return 0;
  return own.ss_family;
}
}  // namespace

void TBlockSocket::BindLocal(const std::string& ip, const std::string& port) {
  FLastError = 0;
  if (FSocket < 0 && Family == SF_Any && ip == "0.0.0.0" && port == "0") {
    FLastErrorText.clear();
    return;
  }
  sockaddr_storage ss{};
  unsigned len = 0;
  int family = OwnFamily(FSocket);
  if (Resolve(ip, port, true, &ss, &len, &family) && (FSocket >= 0 || CreateSocket(family))) {
    if (::bind(FSocket, reinterpret_cast<sockaddr*>(&ss), len) != 0) {
      FLastError = MapSystemError(errno);
    } else {
      ReadAddresses();
      ClearBuffer();
      DoStatus(HR_Bind, FLocalIP + ":" + std::to_string(FLocalPort));
    }
  }
  ExceptCheck();
}

void TBlockSocket::ConnectTo(const std::string& host, const std::string& port) {
  sockaddr_storage ss{};
  unsigned len = 0;
  int family = OwnFamily(FSocket);
  if (Resolve(host, port, false, &ss, &len, &family) && (FSocket >= 0 || CreateSocket(family))) {
    const int err = ConnectHandle(&ss, len);
    if (err != 0) {
      FLastError = MapSystemError(err);
    } else {
      ReadAddresses();
    }
    ClearBuffer();
    DoStatus(HR_Connect, host + ":" + port);
  }
  ExceptCheck();
}

int TBlockSocket::ConnectHandle(const void* addr, unsigned addrlen) {
  const bool bounded = ConnectionTimeout > 0;
  const int flags = ::fcntl(FSocket, F_GETFL, 0);
  if (bounded && flags >= 0) ::fcntl(FSocket, F_SETFL, flags | O_NONBLOCK);
  int err = 0;
  if (::connect(FSocket, static_cast<const sockaddr*>(addr), addrlen) != 0) {
    err = errno;
    // Interrupted or in progress: the connection completes in the background;
    // wait for it (bounded when ConnectionTimeout is set) and read its outcome.
    if (err == EINPROGRESS || err == EINTR) {
      pollfd p{FSocket, POLLOUT, 0};
      const uint32_t start = TickCount();
      int rc;
      for (;;) {
        rc = ::poll(&p, 1, TimeLeft(start, bounded ? ConnectionTimeout : -1));
        if (rc < 0 && errno == EINTR) continue;
        break;
      }
      if (rc == 0) {
        err = ETIMEDOUT;
      } else if (rc < 0) {
        err = errno;
      } else {
        socklen_t l = sizeof err;
        if (::getsockopt(FSocket, SOL_SOCKET, SO_ERROR, &err, &l) != 0) err = errno;
      }
    }
  }
  if (bounded && flags >= 0) ::fcntl(FSocket, F_SETFL, flags);
  return err;
}

void TBlockSocket::LimitBandwidth(int length, int limit, uint32_t& next) {
  if (limit <= 0) return;
  uint32_t now = TickCount();
  // "now before next" on a wrapping counter: the signed difference is positive.
  int32_t wait = static_cast<int32_t>(next - now);
  if (wait > 0) {
    DoStatus(HR_Wait, std::to_string(wait));
    std::this_thread::sleep_for(std::chrono::milliseconds(wait));
  }
  next = TickCount() + static_cast<uint32_t>((static_cast<double>(length) / limit) * 1000.0 + 0.5);
}

int TBlockSocket::RawSend(const char* data, int length) {
  ssize_t r;
  do {
    r = ::send(FSocket, data, static_cast<size_t>(length), MSG_NOSIGNAL);
  } while (r < 0 && errno == EINTR);
  if (r < 0) FLastError = MapSystemError(errno);
  return static_cast<int>(r);
}

int TBlockSocket::RawRecv(char* data, int length) {
  ssize_t r;
  do {
    r = ::recv(FSocket, data, static_cast<size_t>(length), 0);
  } while (r < 0 && errno == EINTR);
  if (r < 0) FLastError = MapSystemError(errno);
  return static_cast<int>(r);
}

void TBlockSocket::SendBytes(const std::string& data) {
  if (StopFlag) {
    StopFlag = false;
    FLastError = 10053;
    ExceptCheck();
    return;
  }
  FLastError = 0;
  if (FSocket < 0) {
    FLastError = 10038;
    ExceptCheck();
    return;
  }
  if (OnMonitor) OnMonitor(this, true, data);
  size_t pos = 0;
  const int chunk = SendMaxChunk > 0 ? SendMaxChunk : 65535;
  while (pos < data.size()) {
    int n = static_cast<int>(std::min<size_t>(chunk, data.size() - pos));
    LimitBandwidth(n, MaxSendBandwidth, FNextSend);
    int r = RawSend(data.data() + pos, n);
    if (r <= 0) {
      if (FLastError == 0) FLastError = 10054;
      break;
    }
    pos += static_cast<size_t>(r);
    FSendCounter += static_cast<uint64_t>(r);
    DoStatus(HR_WriteCount, std::to_string(r));
  }
  ExceptCheck();
}

std::string TBlockSocket::ReadRaw(int count) {
  std::string out;
  if (StopFlag) {
    StopFlag = false;
    FLastError = 10053;
    return out;
  }
  if (FSocket < 0) {
    FLastError = 10038;
    return out;
  }
  count = std::clamp(count, 1, MaxReadChunk);
  LimitBandwidth(count, MaxRecvBandwidth, FNextRecv);
  out.resize(static_cast<size_t>(count));
  int r = RawRecv(out.data(), count);
  if (r == 0) {
    FLastError = 10054;
    out.clear();
    return out;
  }
  if (r < 0) {
    if (FLastError == 0) FLastError = 10054;
    out.clear();
    return out;
  }
  out.resize(static_cast<size_t>(r));
  FWait.Arrived();
  FRecvCounter += static_cast<uint64_t>(r);
  DoStatus(HR_ReadCount, std::to_string(r));
  if (OnMonitor) OnMonitor(this, false, out);
  if (OnReadFilter) {
    std::string filtered = out;
    OnReadFilter(this, filtered);
    if (filtered.size() <= out.size()) out = std::move(filtered);
  }
  return out;
}

int TBlockSocket::AvailableBytes() {
  int pending = SslPending();
  if (pending > 0) return pending;
  if (FSocket < 0) return 0;
  int n = 0;
  if (::ioctl(FSocket, FIONREAD, &n) != 0) return 0;
  return n;
}

bool TBlockSocket::WaitReadable(int timeout) {
  if (FSocket < 0) {
    FLastError = 10038;
    return false;
  }
  const TWaitEnd end = FWait.Wait(FSocket, POLLIN, timeout);
  if (end == TWaitEnd::Ready) {
    DoStatus(HR_CanRead, "");
    return true;
  }
  // A plain time-out is left to the caller (10060 for a receive).
  if (end != TWaitEnd::TimedOut) WaitFailed(end);
  return false;
}

void TBlockSocket::WaitFailed(TWaitEnd end) {
  switch (end) {
    case TWaitEnd::Ready:
      break;
    case TWaitEnd::Cancelled:
      FLastError = 10053;
      break;
    case TWaitEnd::TimedOut:
      FLastError = 10060;
      break;
    case TWaitEnd::Failed:
      FLastError = MapSystemError(FWait.Errno());
      break;
  }
}

std::string TBlockSocket::ReceivePacket(int timeout) {
  FLastError = 0;
  FReadTimeout = timeout;
  std::string result;
  if (Buffered() > 0) {
    result = TakeBuffered(Buffered());
  } else if (const TWaitEnd now = FWait.Check(); now != TWaitEnd::Ready) {
    // Stopped, or the message has had its time: octets already there change
    // nothing.
    WaitFailed(now);
  } else {
    sched_yield();
    if (PauseReadUs > 0 && SslPending() == 0)
      std::this_thread::sleep_for(std::chrono::microseconds(PauseReadUs));
    int n = AvailableBytes();
    const uint32_t start = TickCount();
    if (n > 0) {
      result = ReadRaw(n);
    } else if (WaitReadable(TimeLeft(start, timeout))) {
      n = AvailableBytes();
      if (n == 0) {
        // Readable with nothing to read: the peer closed the connection. With
        // TLS, FIONREAD may also be 0 for an error condition: let a read decide.
        if (SslPending() == 0 && FLastError == 0) {
          char probe;
          ssize_t r = ::recv(FSocket, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
          if (r > 0) {
            result = ReadRaw(1);
          } else {
            FLastError = r == 0 ? 10054 : MapSystemError(errno);
            if (FLastError == 10035) FLastError = 10054;
          }
        }
      } else {
        result = ReadRaw(n);
      }
    } else if (FLastError == 0) {
      FLastError = 10060;
    }
  }
  ExceptCheck();
  if (FLastError != 0) result.clear();
  return result;
}

uint8_t TBlockSocket::ReceiveByte(int timeout) {
  FLastError = 0;
  if (Buffered() == 0) {
    std::string p = ReceivePacket(timeout);
    if (FLastError != 0) return 0;
    FBuffer = std::move(p);
    FBufPos = 0;
  }
  uint8_t b = static_cast<uint8_t>(FBuffer[FBufPos]);
  ++FBufPos;
  if (FBufPos >= FBuffer.size()) ClearBuffer();
  ExceptCheck();
  return b;
}

std::string TBlockSocket::ReceiveExact(int count, int timeout) {
  if (count < 1) return {};
  FLastError = 0;
  if (count > MaxReceiveCount) {
    FLastError = 10055;
    ExceptCheck();
    return {};
  }
  const size_t want = static_cast<size_t>(count);
  // Served straight from the buffer when it holds enough: avoids re-copying the
  // surplus for every small message of a long response.
  if (Buffered() >= want) {
    std::string out = TakeBuffered(want);
    ExceptCheck();
    return out;
  }
  std::string result;
  result.reserve(std::min<size_t>(want, 1 << 20));
  int left = timeout;
  while (result.size() < want) {
    const uint32_t t0 = TickCount();
    std::string p = ReceivePacket(left);
    if (FLastError != 0) break;
    const size_t need = want - result.size();
    if (p.size() > need) {
      result.append(p, 0, need);
      FBuffer.assign(p, need, std::string::npos);
      FBufPos = 0;
    } else {
      result += p;
    }
    if (result.size() < want && !InterPacketTimeout && timeout >= 0) {
      left -= static_cast<int>(TickDelta(t0, TickCount()));
      if (left <= 0) {
        FLastError = 10060;
        break;
      }
    }
  }
  ExceptCheck();
  if (FLastError != 0) return {};
  return result;
}

void TBlockSocket::Close() {
  SslShutdown();
  if (FSocket >= 0) {
    ::shutdown(FSocket, SHUT_WR);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // Drain what the peer still sends, bounded so a flooding peer cannot keep
    // us here.
    size_t drained = 0;
    while ((Buffered() > 0 || AvailableBytes() > 0) && drained < (4u << 20)) {
      std::string p = ReceivePacket(0);
      if (FLastError != 0) break;
      drained += p.size();
    }
    ::close(FSocket);
    FSocket = -1;
  }
  ClearBuffer();
  Family = FFamilySave;
  FLastError = 0;
  FLastErrorText.clear();
  DoStatus(HR_SocketClose, "");
}

std::string TBlockSocket::GetErrorDesc(int32_t code) {
  switch (code) {
    case 0:
      return "";
    case 10004:
      return "Interrupted system call";
    case 10009:
      return "Bad file number";
    case 10013:
      return "Permission denied";
    case 10014:
      return "Bad address";
    case 10022:
      return "Invalid argument";
    case 10024:
      return "Too many open files";
    case 10035:
      return "Operation would block";
    case 10036:
      return "Operation now in progress";
    case 10037:
      return "Operation already in progress";
    case 10038:
      return "Socket operation on nonsocket";
    case 10039:
      return "Destination address required";
    case 10040:
      return "Message too long";
    case 10041:
      return "Protocol wrong type for Socket";
    case 10042:
      return "Protocol not available";
    case 10043:
      return "Protocol not supported";
    case 10044:
      return "Socket not supported";
    case 10045:
      return "Operation not supported on Socket";
    case 10046:
      return "Protocol family not supported";
    case 10047:
      return "Address family not supported";
    case 10048:
      return "Address already in use";
    case 10049:
      return "Can't assign requested address";
    case 10050:
      return "Network is down";
    case 10051:
      return "Network is unreachable";
    case 10052:
      return "Network dropped connection on reset";
    case 10053:
      return "Software caused connection abort";
    case 10054:
      return "Connection reset by peer";
    case 10055:
      return "No Buffer space available";
    case 10056:
      return "Socket is already connected";
    case 10057:
      return "Socket is not connected";
    case 10058:
      return "Can't send after Socket shutdown";
    case 10059:
      return "Too many references:can't splice";
    case 10060:
      return "Connection timed out";
    case 10061:
      return "Connection refused";
    case 10062:
      return "Too many levels of symbolic links";
    case 10063:
      return "File name is too long";
    case 10064:
      return "Host is down";
    case 10065:
      return "No route to host";
    case 10066:
      return "Directory is not empty";
    case 10067:
      return "Too many processes";
    case 10068:
      return "Too many users";
    case 10069:
      return "Disk quota exceeded";
    case 10070:
      return "Stale NFS file handle";
    case 10071:
      return "Too many levels of remote in path";
    case 10091:
      return "Network subsystem is unusable";
    case 10092:
      return "Winsock DLL cannot support this application";
    case 10093:
      return "Winsock not initialized";
    case 10101:
      return "Disconnect";
    case 11001:
      return "Host not found";
    case 11002:
      return "Non authoritative - host not found";
    case 11003:
      return "Non recoverable error";
    case 11004:
      return "Valid name, no data record of requested type";
    default:
      return "Other Winsock error (" + std::to_string(code) + ")";
  }
}

// ---------------------------------------------------------------------------

TTCPBlockSocket::TTCPBlockSocket() : FSSL(quorvel::MakeSSLPlugin(this)) {}

TTCPBlockSocket::~TTCPBlockSocket() {
  Close();
  FSSL.reset();
}

void TTCPBlockSocket::SslConnect() {
  FLastError = 0;
  if (!FSSL->ClientHandshake()) FLastError = SslFailure();
  ExceptCheck();
}

void TTCPBlockSocket::SetSecurityLayer(std::unique_ptr<quorvel::sasl::TSaslLayer> layer) {
  FLayer = std::move(layer);
}

int TTCPBlockSocket::SendBelowLayer(const char* data, int length) {
  if (!FSSL->SSLEnabled()) return TBlockSocket::RawSend(data, length);
  int r = FSSL->WriteData(data, length);
  if (FSSL->LastError() != 0 || r <= 0) FLastError = SslFailure();
  return r;
}

int TTCPBlockSocket::RecvBelowLayer(char* data, int length) {
  if (!FSSL->SSLEnabled()) return TBlockSocket::RawRecv(data, length);
  int r = FSSL->ReadData(data, length);
  if (FSSL->LastError() != 0) {
    FLastError = SslFailure();
    return -1;
  }
  if (r > 0) FWait.Arrived();
  return r;  // 0: the peer closed the TLS session cleanly
}

int TTCPBlockSocket::RawSend(const char* data, int length) {
  if (!FLayer) return SendBelowLayer(data, length);
  std::string frames;
  if (!FLayer->Seal(std::string_view(data, static_cast<size_t>(length)), frames)) {
    FLastError = 10091;
    return -1;
  }
  for (size_t pos = 0; pos < frames.size();) {
    const int r = SendBelowLayer(frames.data() + pos,
                                 static_cast<int>(std::min<size_t>(frames.size() - pos, 1 << 20)));
    if (r <= 0) return r;
    pos += static_cast<size_t>(r);
  }
  return length;
}

int TTCPBlockSocket::RawRecv(char* data, int length) {
  if (!FLayer) return RecvBelowLayer(data, length);
  // Called when octets (or the end) are there; a frame not yet whole waits
  // for its rest, bounded by the receive's time-out.
  char chunk[64 * 1024];
  while (FLayer->Pending() == 0) {
    if (const TWaitEnd now = FWait.Check(); now != TWaitEnd::Ready) {
      WaitFailed(now);
      return -1;
    }
    const int r = RecvBelowLayer(chunk, sizeof chunk);
    if (r <= 0) return r;
    if (!FLayer->Feed(std::string_view(chunk, static_cast<size_t>(r)))) {
      FLastError = 10091;
      return -1;
    }
    if (FLayer->Pending() > 0 || SslPendingBelowLayer() > 0) continue;
    if (!WaitReadable(ReadTimeout())) {
      if (FLastError == 0) FLastError = 10060;
      return -1;
    }
  }
  return static_cast<int>(FLayer->Take(data, static_cast<size_t>(length)));
}

int32_t TTCPBlockSocket::SslFailure() const {
  if (FSSL->Stopped()) return 10053;
  return FSSL->TimedOut() ? 10060 : 10091;
}

int TTCPBlockSocket::SslPendingBelowLayer() {
  return FSSL->SSLEnabled() ? FSSL->PendingBytes() : 0;
}

int TTCPBlockSocket::SslPending() {
  const int below = SslPendingBelowLayer();
  if (!FLayer) return below;
  const size_t plain = FLayer->Pending();
  return plain > 0 ? static_cast<int>(std::min<size_t>(plain, 1 << 30)) : below;
}

void TTCPBlockSocket::SslShutdown() {
  // The layer ends with the connection; what is drained after this is
  // discarded unread.
  FLayer.reset();
  if (FSSL && FSSL->SSLEnabled()) FSSL->CloseTls();
}
