// The SSL/TLS plug-in of a TTCPBlockSocket.
//
// Every TTCPBlockSocket owns one plug-in. When the plug-in is enabled (after a
// successful ClientHandshake, until CloseTls) the socket's sends and receives go
// through WriteData / ReadData. Two implementations exist:
//   TSSLOpenSSL  works on the OpenSSL 3 libraries (libssl.so.3, libcrypto.so.3),
//                loaded at run time with dlopen; nothing links against them.
//   TSSLNone     the stand-by used when those libraries cannot be loaded: every
//                operation that needs a library fails with LastError -1 and the
//                text "SLL is not implemented!".
// With the default settings (VerifyCert off) the server's certificate is not
// verified; with VerifyCert on it is checked against the system's trust store
// and VerifyHost, and a certificate that fails goes to CertificateCheck (see
// net/certverify.h), which decides whether the connection goes on.
//
// Time-outs: while TLS is on, the socket is non-blocking underneath and every
// wait goes through the socket's wait rule (net/waitrule.h): the handshake as
// a whole and each wait of a write last at most Timeout ms, each wait of a
// read at most the socket's receive time-out (ReadTimeout) and never past
// the deadline of the message being received. A wait that runs out fails
// with TimedOut() true, which the socket reports as 10060 "Connection timed
// out" instead of 10091; one cut short by the rule's cancel flag fails with
// Stopped() true (10053).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "net/certverify.h"

class TTCPBlockSocket;

enum TSSLType { LT_all, LT_SSLv2, LT_SSLv3, LT_TLSv1, LT_TLSv1_1, LT_SSHv2 };

class TCustomSSL {
 public:
  // Records the owning socket (not owned back) and sets the default settings.
  explicit TCustomSSL(TTCPBlockSocket* socket);
  virtual ~TCustomSSL();
  TCustomSSL(const TCustomSSL&) = delete;
  TCustomSSL& operator=(const TCustomSSL&) = delete;

  // Overridable operations. The base class (and TSSLNone) fail every one that
  // needs a library: LastError -1, LastErrorText "SLL is not implemented!";
  // handshakes and shutdowns return false, writes and reads -1, PendingBytes 0,
  // the informational ones empty text or 0.
  virtual bool MakeSelfSignedCert(const std::string& host);
  virtual void CopySettings(const TCustomSSL& other);
  virtual std::string LibraryVersion();
  virtual std::string LibraryName();
  virtual bool ClientHandshake();
  virtual bool ServerHandshake();
  virtual bool CloseTls();
  virtual bool CloseTlsBothWays();
  // Returns the octets written/read, 0 when the peer closed the TLS session
  // cleanly (close notify), below 0 on failure (LastError then set).
  virtual int WriteData(const char* buffer, int length);
  virtual int ReadData(char* buffer, int length);
  virtual int PendingBytes();
  virtual std::string ProtocolVersionText();
  virtual std::string PeerSubject();
  virtual std::string PeerIssuer();
  // The text after "/CN=" in PeerSubject, up to the next "/", trimmed.
  virtual std::string PeerCommonName();
  // The certificate's MD5 digest octets (raw, 16 octets).
  virtual std::string PeerFingerprint();
  virtual std::string CertificateInfo();
  virtual std::string CipherName();
  virtual int CipherBits();
  virtual int CipherAlgorithmBits();
  virtual int32_t VerifyResult();

  // On between a successful handshake and the shutdown.
  bool SSLEnabled() const { return FSSLEnabled; }
  int32_t LastError() const { return FLastError; }
  const std::string& LastErrorText() const { return FLastErrorText; }
  TTCPBlockSocket* Socket() const { return FSocket; }
  // The last ClientHandshake, ReadData or WriteData failed because a wait ran
  // out of time (see Timeout and the socket's ReadTimeout).
  bool TimedOut() const { return FTimedOut; }
  // The last ClientHandshake, ReadData or WriteData ended because the
  // socket's wait rule was cancelled (its CancelFlag set).
  bool Stopped() const { return FStopped; }
  // The server certificate seen by the last ClientHandshake (its subject,
  // fingerprint and verification outcome); empty fields before one.
  const TPeerCertificate& PeerCertificate() const { return FPeer; }

  // Published settings. TLDAPSend sets VerifyCert, VerifyHost, CertificateCheck and
  // Timeout before each handshake; the program changes none of the others.
  TSSLType SSLType = LT_all;
  std::string KeyPassword, Username, Password, Ciphers;
  std::string CertificateFile, PrivateKeyFile, Certificate, PrivateKey, PFX, PFXfile;
  std::string TrustCertificateFile, TrustCertificate, CertCA, CertCAFile;
  bool VerifyCert = false;
  std::string SSHChannelType, SSHChannelArg1, SSHChannelArg2;
  // The host name or address the certificate must be issued for (checked when
  // VerifyCert is on; empty checks the chain only).
  std::string VerifyHost;
  // Decides about a certificate that fails verification (not owned; nullptr
  // refuses every such certificate).
  TCertificateCheck* CertificateCheck = nullptr;
  // Milliseconds the handshake as a whole and each wait of a write may last;
  // below 0 no limit.
  int Timeout = -1;

 protected:
  // Sets LastError -1 / "SLL is not implemented!".
  void NotImplemented();
  TTCPBlockSocket* FSocket;
  bool FSSLEnabled = false;
  bool FTimedOut = false;
  bool FStopped = false;
  TPeerCertificate FPeer;
  int32_t FLastError = 0;
  std::string FLastErrorText;
};

class TSSLNone : public TCustomSSL {
 public:
  using TCustomSSL::TCustomSSL;
};

namespace quorvel::ssl {
struct Connection;  // the OpenSSL context and connection handles
}  // namespace quorvel::ssl

class TSSLOpenSSL : public TCustomSSL {
 public:
  explicit TSSLOpenSSL(TTCPBlockSocket* socket);
  ~TSSLOpenSSL() override;

  std::string LibraryVersion() override;
  std::string LibraryName() override;
  bool ClientHandshake() override;
  bool CloseTls() override;
  bool CloseTlsBothWays() override;
  int WriteData(const char* buffer, int length) override;
  int ReadData(char* buffer, int length) override;
  int PendingBytes() override;
  std::string ProtocolVersionText() override;
  std::string PeerSubject() override;
  std::string PeerIssuer() override;
  std::string PeerCommonName() override;
  std::string PeerFingerprint() override;
  std::string CertificateInfo() override;
  std::string CipherName() override;
  int CipherBits() override;
  int CipherAlgorithmBits() override;
  int32_t VerifyResult() override;

 private:
  bool Prepare();
  void Release();
  void ReadError();
  // Waits until the socket is readable (or writable) for at most timeout ms
  // (below 0: no limit), by the socket's wait rule; false when the wait ran
  // out or was cancelled, with the timed-out (text) or stopped state set.
  bool WaitSocket(bool forRead, int timeout, const char* timedOutText);
  // Sets the timed-out state with its text.
  void TimeOut(const char* text);
  std::unique_ptr<quorvel::ssl::Connection> FConn;
};

// Process-wide OpenSSL loading (once, under its own lock; repeated calls return
// at once). True when libssl.so.3 and libcrypto.so.3 and every function needed
// were found. Sockets created afterwards get a TSSLOpenSSL plug-in, otherwise
// a TSSLNone one. The first TTCPBlockSocket loads it on demand.
bool InitSSLInterface();
// Unloads the libraries (sockets made afterwards get TSSLNone until the next Init).
void DestroySSLInterface();
bool IsSSLloaded();

namespace quorvel {
// Test hook: while on, new sockets get a TSSLNone plug-in as if OpenSSL were
// missing (sockets that already exist keep theirs).
void ForceSSLNone(bool on);
// The plug-in a new socket gets: TSSLOpenSSL when loaded (and not forced off),
// otherwise TSSLNone.
std::unique_ptr<TCustomSSL> MakeSSLPlugin(TTCPBlockSocket* socket);
}  // namespace quorvel
