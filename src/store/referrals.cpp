#include "store/referrals.h"

#include <exception>

#include "store/connect.h"
#include "store/secrets.h"

namespace quorvel {

namespace {

// An error box's text in one line: each line break with the blanks after it
// becomes one blank.
std::string Flatten(const std::string& text) {
  std::string out;
  bool gap = false;
  for (char c : text) {
    if (c == '\r' || c == '\n') {
      gap = true;
      continue;
    }
    if (gap) {
      if (c == ' ') continue;
      while (!out.empty() && out.back() == ' ') out.pop_back();
      out.push_back(' ');
      gap = false;
    }
    out.push_back(c);
  }
  return out;
}

std::unique_ptr<TLDAPSend> OpenPlace(const TReferralFollowing& follow,
                                     const std::atomic<bool>* cancel, const TLdapUrl& url,
                                     std::string& why) {
  // The sign-in's password: the one the caller holds, else the keyring's.
  // A bind DN without one would sign in anonymously, so nothing is sent.
  TServerNodeData server = follow.server;
  struct TWipe {
    std::string& pwd;
    ~TWipe() { keyring::Wipe(pwd); }
  } wipe{server.pwd};
  if (NeedsPassword(server) && server.pwd.empty()) {
    std::string error;
    if (server.secret != kSecretKeyring) {
      why = "no password was given for \"" + server.uid + "\", so nothing was sent";
      return nullptr;
    }
    if (!ReadKeyringPassword(server, &error)) {
      why = Flatten(error);
      return nullptr;
    }
  }
  auto session = std::make_unique<TLDAPSend>();
  session->CancelFlag = cancel;
  session->TargetHost = url.Host;
  session->TargetPort = std::to_string(url.Port);
  session->UserName = server.uid;
  session->Password = server.pwd;
  ApplyConnectionSettings(*session, server.ssl, server.auth);
  // Never weaker than the server: SSL/TLS when the URL says so, else
  // StartTLS whenever the server itself is protected.
  const bool protectedServer = server.ssl == "Y" || server.ssl == "T";
  session->FullSSL = url.Secure;
  session->AutoTLS = !url.Secure && protectedServer;
  RequireTrust(*session, follow.trust, server.id);
  bool connected = false, bound = false;
  try {
    connected = session->Connect();
    bound = connected && session->Bind();
  } catch (const std::exception&) {
  }
  keyring::Wipe(session->Password);
  if (bound) return session;
  if (session->AutoTLS && session->ResponseTag() == 0x78 && session->ResultCode() > 0) {
    why = "it refused StartTLS (ErrorCode: " + std::to_string(session->ResultCode()) +
          ", ErrorDesc: " + session->ResultString() +
          "), and the sign-in never goes over a clear connection when the server's does not";
  } else {
    why = (connected ? "the sign-in failed: " : "could not connect: ") +
          Flatten(ErrorLines(*session)).substr(1);
  }
  return nullptr;
}

}  // namespace

bool FollowsReferrals(const TServerNodeData& server) {
  return server.referrals == kReferralsFollow;
}

TReferralOpener ReferralOpener(const TReferralFollowing& follow, const std::atomic<bool>* cancel) {
  return [follow, cancel](const TLdapUrl& url, std::string& why) {
    return OpenPlace(follow, cancel, url, why);
  };
}

std::vector<std::string> ReferralLines(const TSearchOutcome& outcome) {
  std::vector<std::string> lines;
  const auto& misses = outcome.NotSearched;
  if (misses.empty()) return lines;
  const bool reported = !outcome.Incomplete();
  const std::string n = std::to_string(misses.size());
  lines.push_back(reported
                      ? "The server referred to " + n + " other place(s) that were not searched:"
                      : "The server referred to " + n +
                            " other place(s) that could not be searched in full:");
  const int shown = std::min<int>(static_cast<int>(misses.size()), kReferralLinesShown);
  for (int i = 0; i < shown; ++i)
    lines.push_back("    " + misses[i].Url + (misses[i].Why.empty() ? "" : ": " + misses[i].Why));
  if (static_cast<int>(misses.size()) > shown)
    lines.push_back("    ... and " + std::to_string(misses.size() - shown) + " more");
  if (reported) lines.push_back(kGlobalCatalogHint);
  return lines;
}

std::string ReferralTitleNote(const TSearchOutcome& outcome) {
  if (outcome.NotSearched.empty()) return std::string();
  return " (" + std::to_string(outcome.NotSearched.size()) + " referrals not followed)";
}

std::string BaseReferralText(const TSearchOutcome& outcome) {
  std::string urls;
  for (const TReferralMiss& miss : outcome.NotSearched) urls += " " + miss.Url;
  if (outcome.NotSearched.empty())
    for (const std::string& url : outcome.Referrals) urls += " " + url;
  std::string text = "The entry lies in another directory:" + urls;
  if (outcome.Incomplete()) {
    text += "\r\nIt could not be searched there:";
    for (const TReferralMiss& miss : outcome.NotSearched)
      text += "\r\n    " + miss.Url + ": " + miss.Why;
  } else {
    text +=
        "\r\nSet Referrals to \"Follow them with the same sign-in\" in the server's properties "
        "(quorvel-report: --referrals follow) to search it there, or search that directory "
        "itself.";
  }
  return text + "\r\n" + kGlobalCatalogHint;
}

}  // namespace quorvel
