#include "ldap/session.h"

#include <algorithm>

#include "ldap/ber.h"
#include "ldap/filter.h"
#include "ldap/response.h"
#include "net/blocksocket.h"
#include "net/keyring.h"
#include "net/layerswitch.h"

namespace {
// Entries of one answer after which its reads pause, and for how long (in
// microseconds): at the pace a directory writes a stream of entries, long
// enough that each read takes a few dozen of them.
constexpr int kPauseAfterEntries = 16;
constexpr int kStreamPauseUs = 300;
}  // namespace

TLDAPSend::TLDAPSend() : FSock(std::make_unique<TTCPBlockSocket>()) {}

TLDAPSend::~TLDAPSend() = default;

std::string TLDAPSend::ResultCodeText(int32_t code) {
  return quorvel::ResultCodeText(code);
}

void TLDAPSend::KeepFullResult() const {
  if (FFullView.data() == nullptr) return;
  FFullResult.assign(FFullView);
  FFullView = {};
}

const std::string& TLDAPSend::FullResult() const {
  KeepFullResult();
  return FFullResult;
}

void TLDAPSend::ResetReceiveBuffer() {
  KeepFullResult();
  FRx.clear();
  FRxPos = 0;
}

bool TLDAPSend::Connect() {
  FSock->Close();
  FSock->ClearBuffer();
  ResetReceiveBuffer();
  FSeq = 0;
  FSock->BindLocal(IPInterface, "0");
  if (FSock->LastError() == 0) FSock->ConnectTo(TargetHost, TargetPort);
  if (FSock->LastError() != 0) return false;
  if (FullSSL && !SecureConnection()) return false;
  if (AutoTLS) return StartTLS();
  return true;
}

bool TLDAPSend::SecureConnection() {
  FSock->WaitRule().CancelFlag = CancelFlag;
  TCustomSSL* ssl = FSock->SSL();
  ssl->VerifyCert = true;
  ssl->VerifyHost = TargetHost;
  ssl->CertificateCheck = CertificateCheck.get();
  ssl->Timeout = Timeout;
  return Switched(quorvel::net::StartTls(*FSock, Unused()));
}

bool TLDAPSend::Switched(quorvel::net::TSwitch outcome) {
  ResetReceiveBuffer();
  if (outcome == quorvel::net::TSwitch::Unprotected) {
    FResultCode = -1;
    FResultString = quorvel::net::kUnprotectedText;
    FResponseTag = -1;
    FMatchedDN.clear();
  }
  return outcome == quorvel::net::TSwitch::Switched;
}

std::string TLDAPSend::WrapMessage(std::string_view operation) {
  ++FSeq;
  std::string content = EncodeObject(EncodeInteger(FSeq), ASN1_INT);
  content += operation;
  std::string wrapped = EncodeObject(content, ASN1_SEQ);
  quorvel::keyring::Wipe(content);
  return wrapped;
}

bool TLDAPSend::Fill(std::size_t count) {
  while (FRx.size() - FRxPos < count) {
    KeepFullResult();  // the buffer is about to move
    // Drop what has been taken before the buffer grows.
    if (FRxPos > 0 && (FRxPos == FRx.size() || FRxPos >= FRx.size() / 2)) {
      FRx.erase(0, FRxPos);
      FRxPos = 0;
    }
    std::string packet = ReceiveSome();
    // Empty without an error: cancelled.
    if (FSock->LastError() != 0 || packet.empty()) return false;
    if (FRx.empty()) {
      FRx = std::move(packet);
    } else {
      FRx += packet;
    }
  }
  return true;
}

std::string TLDAPSend::ReceiveSome() {
  // The socket's wait rule looks at the flag and bounds the message.
  FSock->WaitRule().CancelFlag = CancelFlag;
  return FSock->ReceivePacket(Timeout);
}

// Taken octets stay in the buffer until the next Fill, so that a message view
// handed out stays valid until then.
void TLDAPSend::Consume(std::size_t count) {
  FRxPos += count;
}

bool TLDAPSend::ReadMessage(std::string_view& message) {
  FFullResult.clear();
  FFullView = {};
  FTooLarge = false;
  message = {};
  // One message, whatever its layers, completes within Timeout of its first
  // octet; before that octet Timeout bounds the silence.
  quorvel::net::TWaitRule& rule = FSock->WaitRule();
  if (Timeout > 0) rule.BeginMessage(Timeout, FRx.size() > FRxPos);
  struct TMessageEnd {
    quorvel::net::TWaitRule& rule;
    ~TMessageEnd() { rule.EndMessage(); }
  } end{rule};
  if (!Fill(1)) return false;
  if (static_cast<uint8_t>(FRx[FRxPos]) != ASN1_SEQ) {
    Consume(1);
    return false;
  }
  if (!Fill(2)) return false;
  const auto first = static_cast<uint8_t>(FRx[FRxPos + 1]);
  std::size_t header = 2;
  if (first >= 0x80) {
    header += first & 0x7F;
    if (!Fill(header)) return false;
  }
  std::size_t cursor = 1;
  const int32_t length = DecodeLength(std::string_view(FRx).substr(FRxPos, header), cursor);
  if (length < 0 || static_cast<std::size_t>(length) > kMaxResponseSize - header) {
    // The rest of this message cannot be read, so the stream is lost.
    FTooLarge = true;
    FSock->Close();
    ResetReceiveBuffer();
    return false;
  }
  const std::size_t total = header + static_cast<std::size_t>(length);
  if (!Fill(total)) return false;
  message = std::string_view(FRx).substr(FRxPos, total);
  FFullView = message;
  Consume(total);
  return true;
}

std::string TLDAPSend::ReadResponse() {
  std::string_view message;
  if (!ReadMessage(message)) return std::string();
  return std::string(message);
}

std::string_view TLDAPSend::Decode(std::string_view message) {
  if (!FInSearch) FReferals.clear();
  quorvel::TDecodedResponse r = quorvel::DecodeMessage(message, FSeq, FReferals);
  FResultCode = r.ResultCode;
  FResultString = std::move(r.ResultString);
  FMatchedDN = std::move(r.MatchedDN);
  FResponseTag = r.ResponseTag;
  if (FTooLarge && message.empty()) FResultString = kResponseTooLarge;
  return r.Rest;
}

std::string TLDAPSend::DecodeResponse(std::string_view message) {
  return std::string(Decode(message));
}

bool TLDAPSend::SendAndDecode(std::string_view operation, std::string_view& rest) {
  std::string wrapped = WrapMessage(operation);
  FSock->SendBytes(wrapped);
  // A bind request's copy goes with the others (requests are small).
  quorvel::keyring::Wipe(wrapped);
  std::string_view message;
  if (FSock->LastError() == 0) ReadMessage(message);
  rest = Decode(message);
  return FResultCode == 0;
}

bool TLDAPSend::Bind() {
  FKerberosFailure = quorvel::sasl::TFailure::None;
  if (BindMethod == BM_Kerberos) return KerberosBind();
  std::string content = EncodeObject(EncodeInteger(Version), ASN1_INT);
  content += EncodeObject(UserName, ASN1_OCTSTR);
  content += EncodeObject(Password, 0x80);
  std::string request = EncodeObject(content, 0x60);
  // The request holds the password: no copy of it outlives the send.
  quorvel::keyring::Wipe(content);
  std::string_view rest;
  const bool ok = SendAndDecode(request, rest);
  quorvel::keyring::Wipe(request);
  return ok;
}

namespace {
// The serverSaslCreds ([7]) of a BindResponse remainder; empty when absent.
std::string ServerSaslCredentials(std::string_view rest) {
  std::size_t cursor = 0;
  while (cursor < rest.size()) {
    int tag = 0;
    bool complete = false;
    const std::size_t before = cursor;
    const std::string_view value = quorvel::ReadItemView(rest, cursor, tag, &complete);
    if (!complete || cursor <= before) break;
    if (tag == 0x87) return std::string(value);
  }
  return std::string();
}
}  // namespace

bool TLDAPSend::KerberosBind() {
  // Inside TLS the connection is already protected: no layer is asked for.
  const bool clear = !FSock->SSL()->SSLEnabled();
  auto sasl = std::make_unique<quorvel::sasl::TSaslClient>();
  auto failedHere = [&] {
    FResultCode = -1;
    FResultString = sasl->ErrorText();
    FResponseTag = -1;
    FKerberosFailure = sasl->Failure();
    return false;
  };
  std::string token;
  if (!sasl->Start("ldap", TargetHost, clear, token)) return failedHere();
  // A GSSAPI exchange takes three rounds; more means the server is lost.
  for (int round = 0;; ++round) {
    std::string credentials = EncodeObject("GSSAPI", ASN1_OCTSTR);
    credentials += EncodeObject(token, ASN1_OCTSTR);
    std::string content = EncodeObject(EncodeInteger(Version), ASN1_INT);
    content += EncodeObject("", ASN1_OCTSTR);
    content += EncodeObject(credentials, 0xA3);
    std::string_view rest;
    SendAndDecode(EncodeObject(content, 0x60), rest);
    if (FResultCode != 0 && FResultCode != 14) return false;  // the server's refusal
    const std::string challenge = ServerSaslCredentials(rest);
    if (FResultCode == 0) {
      // The server is satisfied; the library checks the server's last word.
      if (!sasl->Done() && !sasl->Step(challenge, token)) return failedHere();
      if (!sasl->Done()) {
        FResultCode = -1;
        FResultString = "The server ended the Kerberos sign-in before it was complete";
        return false;
      }
      break;
    }
    if (sasl->Done() || round >= 8) {
      FResultCode = -1;
      FResultString = "The server did not finish the Kerberos sign-in";
      return false;
    }
    if (!sasl->Step(challenge, token)) return failedHere();
  }
  FResultCode = 0;
  if (sasl->Strength() == 0) return true;  // inside TLS: nothing to switch
  return Switched(quorvel::net::StartSecurityLayer(
      *FSock, Unused(), std::make_unique<quorvel::sasl::TSaslLayer>(std::move(sasl))));
}

bool TLDAPSend::Unbind() {
  FSock->SendBytes(WrapMessage(EncodeObject("", 0x42)));
  FSock->Close();
  ResetReceiveBuffer();
  return true;
}

std::string TLDAPSend::SearchOperation(TLDAPSearchScope scope, const std::string& base,
                                       bool types_only, const std::string& filter,
                                       const std::vector<std::string>& attributes) const {
  std::string content = EncodeObject(base, ASN1_OCTSTR);
  content += EncodeObject(EncodeInteger(scope), ASN1_ENUM);
  content += EncodeObject(EncodeInteger(SearchAliases), ASN1_ENUM);
  content += EncodeObject(EncodeInteger(SearchSizeLimit), ASN1_INT);
  content += EncodeObject(EncodeInteger(SearchTimeLimit), ASN1_INT);
  content += EncodeObject(std::string(1, types_only ? '\xFF' : '\x00'), ASN1_BOOL);
  std::string encoded = EncodeFilter(filter.empty() ? "(objectclass=*)" : filter);
  content += encoded.empty() ? EncodeObject("", ASN1_NULL) : encoded;
  std::string names;
  for (const auto& name : attributes) names += EncodeObject(name, ASN1_OCTSTR);
  content += EncodeObject(names, ASN1_SEQ);
  return EncodeObject(content, 0x63);
}

bool TLDAPSend::Search(const std::string& base, bool types_only, const std::string& filter,
                       const std::vector<std::string>& attributes) {
  FSearchResult.Clear();
  return SearchRequest(SearchScope, base, types_only, filter, attributes, {},
                       [this](std::unique_ptr<TLDAPResult> entry) {
                         FSearchResult.Adopt(std::move(entry));
                         if (OnSearchEntry) OnSearchEntry(FSearchResult.Count());
                         return true;
                       });
}

bool TLDAPSend::SearchRequest(TLDAPSearchScope scope, const std::string& base, bool types_only,
                              const std::string& filter, const std::vector<std::string>& attributes,
                              std::string_view controls, const TEntryHandler& on_entry,
                              std::string* done_controls) {
  SendSearchRequest(scope, base, types_only, filter, attributes, controls);
  return ReadSearchAnswer(on_entry, done_controls);
}

bool TLDAPSend::SendSearchRequest(TLDAPSearchScope scope, const std::string& base, bool types_only,
                                  const std::string& filter,
                                  const std::vector<std::string>& attributes,
                                  std::string_view controls) {
  std::string operation = SearchOperation(scope, base, types_only, filter, attributes);
  operation += controls;
  FSock->SendBytes(WrapMessage(operation));
  FReferals.clear();
  FResultCode = -1;
  FResultString.clear();
  FResponseTag = -1;
  return FSock->LastError() == 0;
}

bool TLDAPSend::ReadSearchAnswer(const TEntryHandler& on_entry, std::string* done_controls) {
  if (done_controls) done_controls->clear();
  FInSearch = true;
  int entries = 0;
  while (FSock->LastError() == 0 && !Cancelled()) {
    std::string_view message;
    if (!ReadMessage(message)) {
      Decode(std::string_view());
      // An octet that does not start a message was read and is passed over;
      // a closed, silent or too large response ends the search.
      if (FSock->LastError() == 0 && !FTooLarge) continue;
      break;
    }
    const std::string_view rest = Decode(message);
    if (FResponseTag == 0x64) {
      auto entry = std::make_unique<TLDAPResult>();
      quorvel::ParseSearchEntry(rest, *entry);
      // Past the first few entries the answer is a stream: let each read
      // take what a short pause brings (see PauseReadUs). A short answer is
      // read without any pause.
      if (++entries == kPauseAfterEntries) FSock->PauseReadUs = kStreamPauseUs;
      if (!on_entry(std::move(entry))) {
        FResultCode = -1;
        FResultString.clear();
        FResponseTag = -1;
        break;
      }
    } else if (FResponseTag == 0x73) {
      quorvel::ParseSearchReference(rest, FReferals);
    } else if (FResponseTag == 0x65) {
      if (done_controls) done_controls->assign(rest);
      break;
    }
  }
  FInSearch = false;
  FSock->PauseReadUs = 0;
  return FResultCode == 0;
}

bool TLDAPSend::Abandon(int32_t id) {
  FSock->SendBytes(WrapMessage(EncodeObject(EncodeInteger(id), 0x50)));
  return FSock->LastError() == 0;
}

void TLDAPSend::SetSearchOutcome(int32_t code, std::string text,
                                 std::vector<std::string> referrals) {
  FResultCode = code;
  FResultString = std::move(text);
  FReferals = std::move(referrals);
}

bool TLDAPSend::ExtendedOperation(const std::string& name, const std::string& value) {
  std::string content = EncodeObject(name, 0x80);
  if (!value.empty()) content += EncodeObject(value, 0x81);
  std::string_view rest;
  if (!SendAndDecode(EncodeObject(content, 0x77), rest)) return false;
  std::size_t cursor = 0;
  int tag = 0;
  FExtName = ReadItem(rest, cursor, tag);
  FExtValue = ReadItem(rest, cursor, tag);
  return true;
}

bool TLDAPSend::StartTLS() {
  if (!ExtendedOperation("1.3.6.1.4.1.1466.20037", "")) return false;
  return SecureConnection();
}
