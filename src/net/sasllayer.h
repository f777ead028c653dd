// Kerberos sign-in through SASL (the GSSAPI mechanism), and the security layer
// it can leave on a connection.
//
// Nothing links against the SASL library: Load() opens libsasl2.so.2 with
// dlopen and binds its client calls by name, once per process under its own
// lock; its GSSAPI module comes from the library's own plug-in folder. Either
// missing fails only Kerberos sign-ins (TFailure::NoLibrary, whose text names
// the packages libsasl2-2 and libsasl2-modules-gssapi-mit).
//
// TSaslClient runs one exchange. Start(service, host, layer, out) creates it
// for the service principal service/host with the user's Kerberos ticket (the
// ticket cache KRB5CCNAME names, or the client keytab of KRB5_CLIENT_KTNAME,
// as the Kerberos library decides) and gives the first token; Step answers
// each challenge of the server until Done(). With layer true the exchange
// must end with integrity and confidentiality (strength at least 56), else it
// fails; with layer false no layer is negotiated (maximum strength 0), as
// wanted inside TLS. Every call returns false on failure and leaves
// Failure() and ErrorText(): the Kerberos library's own text when it said
// something (no ticket, expired ticket, unknown principal), else the SASL
// library's.
//
// TSaslLayer carries the negotiated layer. On the wire every block is a
// frame: a 4-octet big-endian length followed by the encoded octets. Seal
// cuts plain octets into blocks of at most the server's buffer size and gives
// their frames (the library writes each frame whole); Feed takes received
// octets in any pieces, lets the library gather and decode every complete
// frame (a frame longer than the 64 KiB buffer we announced is refused before
// anything is kept for it) and keeps the plain octets for Take. A frame that
// fails its check is an error. TTCPBlockSocket::SetSecurityLayer puts the
// layer under every later send and receive.
//
//   quorvel::sasl::TSaslClient sasl;
//   std::string token;
//   if (!sasl.Start("ldap", "dc1.example.org", true, token)) ... sasl.ErrorText()
//   while (server answers with a challenge c) sasl.Step(c, token), send token
//   if (sasl.Strength() > 0) socket.SetSecurityLayer(std::make_unique<TSaslLayer>(...))
//
// Not thread-safe per object; objects on different threads are independent.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace quorvel::sasl {

enum class TFailure {
  None,
  NoLibrary,         // libsasl2 or its GSSAPI module is not installed
  NoTicket,          // no Kerberos ticket (kinit gets one)
  ExpiredTicket,     // the ticket has expired (kinit gets a new one)
  UnknownPrincipal,  // the KDC does not know the user's or the service's principal
  Other,
};

// The text of a NoLibrary failure.
inline constexpr const char* kNoLibraryText =
    "Kerberos sign-in needs the SASL library and its GSSAPI module, which are not "
    "installed: install the packages libsasl2-2 and libsasl2-modules-gssapi-mit";

// Loads and initialises the library (once); false when it or a needed call is missing.
bool Load();
// Test hook: while on, Load() fails as if the library were missing.
void ForceMissing(bool on);

// The Kerberos library's part of a SASL error text (what it says inside the
// GSSAPI failure), or the whole text when there is none; and the kind of
// failure it tells.
std::string KerberosText(const std::string& detail);
TFailure Classify(const std::string& kerberosText);

class TSaslClient {
 public:
  TSaslClient();
  ~TSaslClient();
  TSaslClient(const TSaslClient&) = delete;
  TSaslClient& operator=(const TSaslClient&) = delete;

  bool Start(const std::string& service, const std::string& host, bool layer, std::string& out);
  bool Step(std::string_view challenge, std::string& out);
  // The library has finished its side of the exchange.
  bool Done() const { return done_; }
  // The negotiated strength (0: no layer) and the largest plain block the
  // server takes in one frame; both valid once Done().
  unsigned Strength() const;
  unsigned MaxOut() const;
  bool Encode(std::string_view plain, std::string& out);
  bool Decode(std::string_view frame, std::string& out);

  TFailure Failure() const { return failure_; }
  const std::string& ErrorText() const { return error_; }

 private:
  // Runs a start or step call, answering the library's questions (none are
  // expected for GSSAPI) with empty values.
  template <typename Call>
  bool Run(Call call, std::string& out);
  void Fail(int rc);

  void* conn_ = nullptr;
  bool layer_ = false;
  bool done_ = false;
  TFailure failure_ = TFailure::None;
  std::string error_;
};

class TSaslLayer {
 public:
  // Received octets are handed to the library in pieces of at most this.
  static constexpr std::size_t kFeedBlock = 64u * 1024;
  explicit TSaslLayer(std::unique_ptr<TSaslClient> client);
  ~TSaslLayer();

  bool Seal(std::string_view plain, std::string& frames);
  bool Feed(std::string_view raw);
  std::size_t Pending() const { return plain_.size() - taken_; }
  std::size_t Take(char* buffer, std::size_t length);
  const std::string& ErrorText() const { return error_; }

 private:
  std::unique_ptr<TSaslClient> client_;
  std::size_t maxOut_;
  std::string plain_;
  std::size_t taken_ = 0;
  std::string error_;
};

}  // namespace quorvel::sasl
