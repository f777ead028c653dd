// The LDAP version 3 client: one TLDAPSend holds one connection to one
// directory server.
//
//   TLDAPSend ldap;
//   ldap.TargetHost = "ldap.example.org"; ldap.TargetPort = "389";
//   ldap.UserName = "cn=admin,dc=example,dc=org"; ldap.Password = "secret";
//   if (ldap.Connect() && ldap.Bind() &&
//       ldap.Search("dc=example,dc=org", false, "(objectclass=person)", {"cn", "mail"}))
//     ... ldap.SearchResult().Items(0)->ObjectName() ...
//   ldap.Unbind();
//
// Every operation is synchronous and never throws: it returns true or false
// and leaves the reason in ResultCode()/ResultString() (ResultCode -1 when no
// response could be decoded) or, for connection failures, in
// Sock()->LastError()/LastErrorText(). A search ends on its SearchResultDone,
// or when the connection fails, goes silent for Timeout milliseconds or sends
// something that is not an LDAP message (ResultCode -1, the socket's error
// kept). One response message may be at most kMaxResponseSize octets; a larger
// one fails its operation and closes the connection.
//
// Search sends exactly one request without controls; a search that takes
// several requests (reading past a server's size limit in pages, completing
// attributes sent in value ranges, cancelling) is the search driver's
// (ldap/searchdriver.h), which sends them with SearchRequest.
//
// Cancelling: while CancelFlag points to a flag that is true, every wait for
// the server's answer (a TLS handshake included) ends within kCancelSliceMs
// (between messages at once), however the server sends, in clear, inside
// TLS or sealed: the operation fails with ResultCode -1, Cancelled() is true
// and the socket's error is 10053. Set the flag from any thread; the session
// itself is used by one thread.
//
// Time-out: Timeout bounds the silence before a response message's first
// octet, and then the whole message from that octet, whatever its layers: a
// server that trickles a message more slowly fails as a silent one does
// (socket error 10060).
//
// The object owns its socket, SearchResult() and Referals(); destroying it
// closes the socket without sending anything.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ldap/results.h"
#include "net/sasllayer.h"
#include "net/layerswitch.h"
#include "net/waitrule.h"

class TTCPBlockSocket;
class TCertificateCheck;

enum TLDAPSearchScope { SS_BaseObject = 0, SS_SingleLevel = 1, SS_WholeSubtree = 2 };
// How Bind signs in.
enum TLDAPBindMethod {
  BM_Simple,    // UserName and Password (both empty: anonymous)
  BM_Kerberos,  // the user's Kerberos ticket, SASL GSSAPI
};
enum TLDAPSearchAliases {
  SA_NeverDeref = 0,
  SA_InSearching = 1,
  SA_FindingBaseObj = 2,
  SA_Always = 3
};

// The connection target and credentials.
class TNetClient {
 public:
  virtual ~TNetClient() = default;
  std::string TargetHost = "127.0.0.1";
  std::string TargetPort = "389";
  std::string IPInterface = "0.0.0.0";  // local address bound before connecting
  int32_t Timeout = 60000;              // ms, for each response message (see TLDAPSend)
  std::string UserName;                 // bind DN
  std::string Password;
};

class TLDAPSend : public TNetClient {
 public:
  // Longest a wait for the server goes without looking at CancelFlag (ms).
  static constexpr int kCancelSliceMs = quorvel::net::TWaitRule::kSliceMs;
  // Largest response message accepted (256 MiB).
  static constexpr std::size_t kMaxResponseSize = 256u * 1024 * 1024;
  // Text left in ResultString when a response exceeds kMaxResponseSize.
  static constexpr const char* kResponseTooLarge = "Response too large";

  TLDAPSend();
  ~TLDAPSend() override;
  TLDAPSend(const TLDAPSend&) = delete;
  TLDAPSend& operator=(const TLDAPSend&) = delete;

  int32_t Version = 3;
  // BM_Kerberos signs in with the Kerberos ticket for the service principal
  // "ldap/" + TargetHost (net/sasllayer.h); UserName and Password are not
  // used. On a clear connection it also negotiates signing and sealing, and
  // every later message (searches, pages, follow-ups, unbind) travels sealed
  // in the security layer; inside SSL/TLS no layer is negotiated. A failure on
  // this side (no ticket, no library, ...) leaves ResultCode -1, the Kerberos
  // library's text in ResultString and its kind in KerberosFailure().
  // Anything the server sent in clear behind its last bind response fails
  // the sign-in (ResultCode -1, quorvel::net::kUnprotectedText), unused.
  TLDAPBindMethod BindMethod = BM_Simple;
  bool AutoTLS = false;  // run StartTLS inside Connect
  bool FullSSL = false;  // TLS handshake right after the TCP connection (as on 636)
  TLDAPSearchScope SearchScope = SS_WholeSubtree;
  TLDAPSearchAliases SearchAliases = SA_Always;
  int32_t SearchSizeLimit = 0;  // 0: none
  int32_t SearchTimeLimit = 0;  // seconds, 0: none
  // Called after each entry a search receives, with the count so far (for
  // progress displays; a search read in pages counts on from page to page);
  // may be left empty. SearchRequest leaves it to its caller.
  std::function<void(int)> OnSearchEntry;
  // See "Cancelling" above; nullptr (the default) waits as Timeout says.
  const std::atomic<bool>* CancelFlag = nullptr;
  // Every TLS handshake (FullSSL, StartTLS) verifies the server's certificate
  // against the system's trust store and TargetHost, and waits at most
  // Timeout ms. A certificate that fails goes to this check (see
  // net/certverify.h); left empty, such a certificate ends the connection.
  std::shared_ptr<TCertificateCheck> CertificateCheck;

  // Closes any earlier connection, connects (and runs the SSL/TLS step asked for).
  bool Connect();
  // Signs in as BindMethod says: a simple bind with Version, UserName and
  // Password, or Kerberos; true when ResultCode is 0.
  bool Bind();
  // Sends the unbind request and closes the connection; always true.
  bool Unbind();
  // Runs one search; entries land in SearchResult(), referral URLs in Referals().
  // True when ResultCode is 0; entries received before a failure are kept.
  bool Search(const std::string& base, bool types_only, const std::string& filter,
              const std::vector<std::string>& attributes);
  // One SearchRequest and its answers, nothing kept: sends the request for
  // these arguments (with the session's aliases and limits) followed by
  // controls (a whole [0] Controls item, or empty for none) and reads until
  // its SearchResultDone. Each entry goes to on_entry as it arrives (which
  // may keep it; false stops reading at once, the request left outstanding);
  // reference URLs go to Referals(), which is cleared first. done_controls,
  // when given, receives what follows the done message's error text (where
  // its controls are). ResultCode()/ResultString() tell the done message, or
  // -1 when it never came. True when ResultCode is 0. Every message is read
  // as soon as it arrives.
  using TEntryHandler = std::function<bool(std::unique_ptr<TLDAPResult> entry)>;
  bool SearchRequest(TLDAPSearchScope scope, const std::string& base, bool types_only,
                     const std::string& filter, const std::vector<std::string>& attributes,
                     std::string_view controls, const TEntryHandler& on_entry,
                     std::string* done_controls = nullptr);
  // SearchRequest in two halves, for a caller that has something to do
  // between sending a request and reading its answer (the search driver asks
  // for the next page before it stores the last entry of a page). The first
  // sends the request (ResultCode() is -1 until its answer is read; false
  // when it could not be sent); the second reads the answer of the request
  // sent last, as SearchRequest does.
  bool SendSearchRequest(TLDAPSearchScope scope, const std::string& base, bool types_only,
                         const std::string& filter, const std::vector<std::string>& attributes,
                         std::string_view controls);
  bool ReadSearchAnswer(const TEntryHandler& on_entry, std::string* done_controls = nullptr);
  // Sends an AbandonRequest for the request with message id `id`; no answer
  // comes. False when it could not be sent.
  bool Abandon(int32_t id);
  // Makes ResultCode(), ResultString() and Referals() tell the outcome of a
  // search that took several requests, as Search leaves its own.
  void SetSearchOutcome(int32_t code, std::string text, std::vector<std::string> referrals);
  // True when CancelFlag is set and true.
  bool Cancelled() const { return CancelFlag && CancelFlag->load(); }
  bool ExtendedOperation(const std::string& name, const std::string& value);
  // StartTLS extended request, then the TLS handshake on the open connection.
  // Anything the server sent behind its StartTLS response fails the
  // connection (ResultCode -1, quorvel::net::kUnprotectedText), unused.
  bool StartTLS();
  static std::string ResultCodeText(int32_t code);

  int32_t ResultCode() const { return FResultCode; }
  const std::string& ResultString() const { return FResultString; }
  const std::string& FullResult() const;
  TLDAPResultList& SearchResult() { return FSearchResult; }
  const TLDAPResultList& SearchResult() const { return FSearchResult; }
  const std::vector<std::string>& Referals() const { return FReferals; }
  const std::string& ExtName() const { return FExtName; }
  const std::string& ExtValue() const { return FExtValue; }
  int32_t Seq() const { return FSeq; }
  TTCPBlockSocket* Sock() const { return FSock.get(); }
  int ResponseTag() const { return FResponseTag; }
  const std::string& MatchedDN() const { return FMatchedDN; }
  // Why the last Kerberos sign-in failed on this side (None when it did not,
  // or when the server refused it: ResultCode then says why).
  quorvel::sasl::TFailure KerberosFailure() const { return FKerberosFailure; }

  // The internal steps, usable on their own.
  // Envelope with the next message id.
  std::string WrapMessage(std::string_view operation);
  // One response message as received, or empty (time-out, closed connection,
  // first octet not 0x30, too large).
  std::string ReadResponse();
  // Checks and decodes a message; returns the undecoded remainder.
  std::string DecodeResponse(std::string_view message);

 private:
  // The SearchRequest operation (tag 0x63) for these arguments with the
  // session's aliases and limits.
  std::string SearchOperation(TLDAPSearchScope scope, const std::string& base, bool types_only,
                              const std::string& filter,
                              const std::vector<std::string>& attributes) const;
  bool ReadMessage(std::string_view& message);
  bool Fill(std::size_t count);
  // One receive of Fill: whatever arrives next, under the socket's wait rule
  // with CancelFlag.
  std::string ReceiveSome();
  void Consume(std::size_t count);
  std::string_view Decode(std::string_view message);
  bool SendAndDecode(std::string_view operation, std::string_view& rest);
  // The TLS handshake with verification, CertificateCheck and Timeout,
  // through the layer switch (net/layerswitch.h).
  bool SecureConnection();
  // Bind with SASL GSSAPI; switches to the security layer when one was agreed.
  bool KerberosBind();
  // Octets received and not yet taken as messages.
  std::size_t Unused() const { return FRx.size() - FRxPos; }
  // After a layer switch: the receive buffer starts afresh; refused octets in
  // flight leave ResultCode -1 and the switch's text. True when switched.
  bool Switched(quorvel::net::TSwitch outcome);

  std::unique_ptr<TTCPBlockSocket> FSock;
  TLDAPResultList FSearchResult;
  std::vector<std::string> FReferals;
  int32_t FResultCode = 0;
  std::string FResultString;
  // The last message: a view into FRx until someone asks for it or the buffer
  // is about to change, then a copy.
  mutable std::string FFullResult;
  mutable std::string_view FFullView;
  void KeepFullResult() const;
  void ResetReceiveBuffer();
  std::string FExtName, FExtValue;
  std::string FMatchedDN;
  int FResponseTag = -1;
  int32_t FSeq = 0;
  bool FInSearch = false;
  bool FTooLarge = false;
  quorvel::sasl::TFailure FKerberosFailure = quorvel::sasl::TFailure::None;
  // Octets received but not yet taken as messages: [FRxPos, FRx.size()).
  std::string FRx;
  std::size_t FRxPos = 0;
};
