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
// The server's certificate is never verified with the default settings
// (VerifyCert off): users connect to servers with self-signed certificates.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

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
  // The last ReadData failed because nothing arrived within the socket's
  // receive time-out (the connection stays usable).
  bool TimedOut() const { return FTimedOut; }

  // Published settings (the program changes none of them).
  TSSLType SSLType = LT_all;
  std::string KeyPassword, Username, Password, Ciphers;
  std::string CertificateFile, PrivateKeyFile, Certificate, PrivateKey, PFX, PFXfile;
  std::string TrustCertificateFile, TrustCertificate, CertCA, CertCAFile;
  bool VerifyCert = false;
  std::string SSHChannelType, SSHChannelArg1, SSHChannelArg2;

 protected:
  // Sets LastError -1 / "SLL is not implemented!".
  void NotImplemented();
  TTCPBlockSocket* FSocket;
  bool FSSLEnabled = false;
  bool FTimedOut = false;
  int32_t FLastError = 0;
  std::string FLastErrorText;
};

class TSSLNone : public TCustomSSL {
 public:
  using TCustomSSL::TCustomSSL;
};

namespace quorvel::ssl {
struct Connection;  // the OpenSSL context and connection handles
// The text after "/CN=" in a one-line subject, up to the next "/", trimmed.
std::string CommonNameOf(const std::string& subject);
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
