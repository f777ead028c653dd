// The blocking TCP client socket.
//
// Every call blocks until it is done, has failed or its time-out ran out.
// Nothing throws: each operation leaves LastError() (0 = success, otherwise an
// error number in the WinSock numbering, see GetErrorDesc) and LastErrorText().
// System errors are mapped onto that numbering (ECONNREFUSED -> 10061
// "Connection refused", ETIMEDOUT -> 10060, unknown host -> 11001 "Host not
// found", ...). The operations set four codes themselves:
//   10053 stopped through StopFlag or the wait rule's CancelFlag, 10054 the
//   peer closed the connection, 10060 nothing arrived within the time-out (or
//   a message begun with WaitRule().BeginMessage did not complete within its
//   time-out), 10091 any SSL/TLS failure.
//
// Waiting: every wait for the peer, in clear, inside TLS and inside a SASL
// security layer, goes through WaitRule() (net/waitrule.h): it sees the
// cancel flag within 100 ms whatever arrives, and bounds a whole message
// from its first octet.
//
// Typical client use:
//   TTCPBlockSocket s;
//   s.BindLocal("0.0.0.0", "0");         // nothing happens: left to connect
//   s.ConnectTo("127.0.0.1", "389");     if (s.LastError() != 0) ...
//   s.SslConnect();                      // optional, implicit SSL / StartTLS
//   s.SendBytes(request);
//   uint8_t tag = s.ReceiveByte(60000);  // check LastError() too
//   std::string body = s.ReceiveExact(n, 60000);
//   s.Close();
//
// Octet strings are std::string. One receive never hands out more than the
// system gives at once, and ReceiveExact refuses counts above MaxReceiveCount
// (256 MiB) with 10055 before allocating anything, so a peer can never make
// us allocate without bound.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "net/ssllayer.h"
#include "net/waitrule.h"

namespace quorvel::sasl {
class TSaslLayer;
}  // namespace quorvel::sasl

enum THookSocketReason {
  HR_ResolvingBegin,
  HR_ResolvingEnd,
  HR_SocketCreate,
  HR_SocketClose,
  HR_Bind,
  HR_Connect,
  HR_CanRead,
  HR_CanWrite,
  HR_Listen,
  HR_Accept,
  HR_ReadCount,
  HR_WriteCount,
  HR_Wait,
  HR_Error
};

enum TSocketFamily { SF_Any, SF_IP4, SF_IP6 };

class TBlockSocket;
using THookSocketStatus =
    std::function<void(TBlockSocket* sender, THookSocketReason reason, const std::string& value)>;
using THookDataFilter = std::function<void(TBlockSocket* sender, std::string& data)>;
using THookCreateSocket = std::function<void(TBlockSocket* sender)>;
using THookMonitor =
    std::function<void(TBlockSocket* sender, bool writing, const std::string& data)>;

// Largest count ReceiveExact accepts (256 MiB); above it fails with 10055.
inline constexpr int MaxReceiveCount = 256 * 1024 * 1024;

class TBlockSocket {
 public:
  TBlockSocket();
  virtual ~TBlockSocket();
  TBlockSocket(const TBlockSocket&) = delete;
  TBlockSocket& operator=(const TBlockSocket&) = delete;

  // --- overridable operations used by the LDAP client ---
  // Shuts the connection down (SSL first), drains and releases the handle.
  virtual void Close();
  // Resolves and connects; LastError() tells the outcome.
  virtual void ConnectTo(const std::string& host, const std::string& port);
  // Sends all of data in chunks of at most SendMaxChunk, or stops at the first error.
  virtual void SendBytes(const std::string& data);
  // Exactly count octets, or empty on error (count < 1: empty, network untouched).
  virtual std::string ReceiveExact(int count, int timeout);
  // One octet, 0 on error (check LastError()).
  virtual uint8_t ReceiveByte(int timeout);
  // Whatever arrives next (at least one octet), empty on error.
  virtual std::string ReceivePacket(int timeout);
  // Octets that can be read without waiting.
  virtual int AvailableBytes();
  // True when data (or end of stream) is ready within timeout ms (-1: no limit).
  virtual bool WaitReadable(int timeout);

  // Binds locally; ("0.0.0.0", "0") on a fresh SF_Any socket does nothing.
  void BindLocal(const std::string& ip, const std::string& port);

  // Other names for the same operations.
  void CloseSocket() { Close(); }
  void Connect(const std::string& host, const std::string& port) { ConnectTo(host, port); }
  void Bind(const std::string& ip, const std::string& port) { BindLocal(ip, port); }
  void SendString(const std::string& data) { SendBytes(data); }
  void SendBuffer(const std::string& data) { SendBytes(data); }
  std::string RecvBufferEx(int count, int timeout) { return ReceiveExact(count, timeout); }
  uint8_t RecvByte(int timeout) { return ReceiveByte(timeout); }
  std::string RecvPacket(int timeout) { return ReceivePacket(timeout); }
  int WaitingData() { return AvailableBytes(); }
  bool CanRead(int timeout) { return WaitReadable(timeout); }

  // Error code -> text ("" for 0, "Other Winsock error (N)" for unlisted codes).
  static std::string GetErrorDesc(int32_t code);

  int32_t LastError() const { return FLastError; }
  const std::string& LastErrorText() const { return FLastErrorText; }
  // The system handle, -1 when no socket exists.
  int Socket() const { return FSocket; }
  bool HasSocket() const { return FSocket >= 0; }
  // The time-out (ms) of the receive in progress; a TLS read waiting for the
  // rest of a record uses it.
  int ReadTimeout() const { return FReadTimeout; }
  // The one rule every wait of this socket follows (owned by the socket).
  quorvel::net::TWaitRule& WaitRule() { return FWait; }
  const std::string& GetLocalSinIP() const { return FLocalIP; }
  int GetLocalSinPort() const { return FLocalPort; }
  const std::string& GetRemoteSinIP() const { return FRemoteIP; }
  int GetRemoteSinPort() const { return FRemotePort; }
  uint64_t RecvCounter() const { return FRecvCounter; }
  uint64_t SendCounter() const { return FSendCounter; }
  // Octets already taken from the system but not yet handed out.
  std::string LineBuffer() const { return FBuffer.substr(FBufPos); }
  size_t Buffered() const { return FBuffer.size() - FBufPos; }
  void ClearBuffer() {
    FBuffer.clear();
    FBufPos = 0;
  }

  // Published settings.
  int Tag = 0;
  bool RaiseExcept = false;  // accepted but ignored: nothing here ever throws
  TSocketFamily Family = SF_Any;
  bool PreferIP4 = true;
  bool InterPacketTimeout = true;
  bool StopFlag = false;
  bool ConvertLineEnd = false;
  int MaxLineLength = 0;
  int MaxSendBandwidth = 0;  // octets per second, 0 = none
  int MaxRecvBandwidth = 0;
  void SetMaxBandwidth(int value) { MaxSendBandwidth = MaxRecvBandwidth = value; }
  int SendMaxChunk = 65535;
  // Milliseconds a connect may take; 0 (the default) leaves it to the system's
  // own connection time-out. Past it ConnectTo fails with 10060.
  int ConnectionTimeout = 0;
  // Set by a reader in the middle of a long response (a search returning many
  // entries). A server writes each entry on its own; a reader that takes each
  // one the moment it arrives gets the stream in small segments of a few
  // entries, and the server then spends more of its processor on sending
  // them, and on waking the reader, than on the entries. While this is set,
  // each read first pauses for this many microseconds, so that what arrives
  // meanwhile comes in one read. Each read is at most that late.
  int PauseReadUs = 0;
  THookSocketStatus OnStatus;
  THookDataFilter OnReadFilter;
  THookCreateSocket OnCreateSocket;
  THookMonitor OnMonitor;

 protected:
  // Raw transfer; TTCPBlockSocket routes them through the SSL plug-in when it is
  // enabled. Return as send/recv; on failure they set FLastError.
  virtual int RawSend(const char* data, int length);
  virtual int RawRecv(char* data, int length);
  virtual int SslPending() { return 0; }
  virtual void SslShutdown() {}

  // Sets LastError for a wait (or a look at the rule) that did not end Ready.
  void WaitFailed(quorvel::net::TWaitEnd end);

  // Sets LastErrorText from LastError and reports HR_Error.
  void ExceptCheck();
  void SetLastError(int32_t code) { FLastError = code; }
  void DoStatus(THookSocketReason reason, const std::string& value);

  int FSocket = -1;
  int FReadTimeout = -1;
  int32_t FLastError = 0;
  std::string FLastErrorText;
  quorvel::net::TWaitRule FWait;

 private:
  bool Resolve(const std::string& host, const std::string& port, bool passive, void* addr,
               unsigned* addrlen, int* family);
  bool CreateSocket(int family);
  // Connects the handle; returns 0 or the system error.
  int ConnectHandle(const void* addr, unsigned addrlen);
  std::string ReadRaw(int count);
  void LimitBandwidth(int length, int limit, uint32_t& next);
  void ReadAddresses();

  std::string TakeBuffered(size_t n);

  // The receive buffer: FBuffer[FBufPos..] is not yet handed out.
  std::string FBuffer;
  size_t FBufPos = 0;
  std::string FLocalIP, FRemoteIP;
  int FLocalPort = 0, FRemotePort = 0;
  uint64_t FRecvCounter = 0, FSendCounter = 0;
  TSocketFamily FFamilySave = SF_Any;
  uint32_t FNextSend = 0, FNextRecv = 0;
};

class TTCPBlockSocket : public TBlockSocket {
 public:
  TTCPBlockSocket();
  ~TTCPBlockSocket() override;

  // Runs the TLS client handshake on the connected socket; 10091 on failure
  // (the plug-in's own LastError/LastErrorText tell why). A client switches
  // layers through net/layerswitch.h, which applies the rule for the octets
  // in flight before it calls this or SetSecurityLayer.
  void SslConnect();
  // The SSL plug-in, owned by the socket (never null).
  TCustomSSL* SSL() const { return FSSL.get(); }
  // Puts a negotiated SASL security layer (net/sasllayer.h) under every later
  // send and receive, above SSL/TLS when that is on, until Close. A frame that
  // fails its check, or a failed seal, is error 10091; waiting for the rest
  // of a frame follows WaitRule() (10060, 10053).
  void SetSecurityLayer(std::unique_ptr<quorvel::sasl::TSaslLayer> layer);
  bool HasSecurityLayer() const { return FLayer != nullptr; }

  // Proxy settings: accepted, never used; every connection is direct.
  std::string SocksIP, SocksPort = "1080";
  int SocksType = 5, SocksTimeout = 60000;
  std::string HTTPTunnelIP, HTTPTunnelPort, HTTPTunnelUser, HTTPTunnelPass;
  int HTTPTunnelTimeout = 30000;

 protected:
  int RawSend(const char* data, int length) override;
  int RawRecv(char* data, int length) override;
  int SslPending() override;
  void SslShutdown() override;

 private:
  // Transfer beneath the security layer: through SSL/TLS when it is on.
  int SendBelowLayer(const char* data, int length);
  int RecvBelowLayer(char* data, int length);
  int SslPendingBelowLayer();
  // The socket error for a failed SSL/TLS call: 10053 stopped, 10060 timed
  // out, else 10091.
  int32_t SslFailure() const;
  std::unique_ptr<TCustomSSL> FSSL;
  std::unique_ptr<quorvel::sasl::TSaslLayer> FLayer;
};

namespace quorvel::net {
// Maps a system errno value onto the WinSock numbering used by LastError.
int32_t MapSystemError(int err);
// Maps a getaddrinfo error (EAI_*) onto the WinSock numbering.
int32_t MapResolverError(int err);
// 32-bit millisecond tick and the wrap-safe difference of two ticks.
uint32_t TickCount();
uint32_t TickDelta(uint32_t from, uint32_t to);
// What is left of a limit of `limit` ms begun at tick `start`, for poll():
// -1 (no limit) when the limit is negative, never below 0.
int TimeLeft(uint32_t start, int limit);
}  // namespace quorvel::net
