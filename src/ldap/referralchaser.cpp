// The original search, then the places it was referred to (see
// ldap/referralchaser.h for the rules).
#include "ldap/referralchaser.h"

#include <exception>
#include <utility>

namespace quorvel {

namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// Why a referred place's search did not give its entries, in one line.
std::string FailureText(const TSearchOutcome& out) {
  if (out.Code <= 0 && out.SocketError != 0) {
    std::string text = "the search failed: " + out.SocketErrorText;
    if (!out.SslErrorText.empty()) text += " (" + out.SslErrorText + ")";
    return text;
  }
  return "the search failed (ErrorCode: " + std::to_string(out.Code) + ", ErrorDesc: " + out.Text +
         ")";
}

}  // namespace

// Where the driver of one place tells its entries: on to the chaser's sink,
// numbered and told once each while following.
class TReferralChaser::TPlaceSink : public TSearchSink {
 public:
  TPlaceSink(TReferralChaser& chaser, bool referred) : c_(chaser), referred_(referred) {}
  bool Entry(std::unique_ptr<TLDAPResult>& entry, int position) override {
    if (c_.opener_) {
      const bool fresh = c_.dns_.insert(Lower(entry->ObjectName())).second;
      if (referred_) {
        if (!fresh) return true;  // found already (here, or at another place)
        position = c_.next_++;
      }
    }
    ++c_.told_;
    return c_.sink_.Entry(entry, position);
  }
  void Restart() override {
    // A referred place read again in pages brings its first entries again:
    // they are known by their DNs. Only the original search voids what it told.
    if (referred_) return;
    c_.dns_.clear();
    c_.told_ = 0;
    c_.sink_.Restart();
  }
  void End(const TSearchOutcome&) override {}

 private:
  TReferralChaser& c_;
  bool referred_;
};

TReferralChaser::TReferralChaser(TLDAPSend& session, TSearchSink& sink, TReferralOpener opener)
    : session_(session), sink_(sink), opener_(std::move(opener)) {}

const TSearchOutcome& TReferralChaser::Run(const TSearchRequest& request) {
  queue_.clear();
  places_.clear();
  dns_.clear();
  next_ = told_ = 0;
  {
    TPlaceSink first(*this, false);
    TSearchDriver driver(session_, first);
    driver.Events = Events;
    outcome_ = driver.Run(request);
  }
  next_ = outcome_.Received;
  if (outcome_.Failure != sfCancelled && outcome_.Failure != sfStopped) {
    int port = 389;
    try {
      port = std::stoi(session_.TargetPort);
    } catch (const std::exception&) {
    }
    places_.insert(Lower(HostAndPort(session_.TargetHost, port) + "/" + request.Base));
    Queue(outcome_, request, 1, session_.TargetHost, port, true);
    try {
      for (std::size_t i = 0; i < queue_.size(); ++i) {
        const TReferred item = queue_[i];  // a copy: Follow may grow the queue
        if (!Follow(item)) break;
      }
    } catch (...) {
      // Only the opener, a sink or the memory can throw here.
      outcome_.Code = -1;
      outcome_.Text = kSearchStopped;
      outcome_.Failure = sfStopped;
    }
  }
  queue_.clear();
  dns_.clear();
  outcome_.Received = told_;
  sink_.End(outcome_);
  return outcome_;
}

void TReferralChaser::Queue(const TSearchOutcome& found, const TSearchRequest& request, int depth,
                            const std::string& host, int port, bool base) {
  if (found.Referrals.empty()) return;
  TReferred item;
  item.depth = depth;
  item.request = request;
  item.host = host;
  item.port = port;
  if (!opener_) {
    for (const std::string& url : found.Referrals) Miss(url, std::string());
    return;
  }
  if (found.Code == 10) {
    item.base = base;
    item.urls = found.Referrals;
    queue_.push_back(std::move(item));
    return;
  }
  if (!found.Delivers()) return;
  // A one-level search's reference names the child itself.
  if (request.Scope == SS_SingleLevel) item.request.Scope = SS_BaseObject;
  for (const std::string& url : found.Referrals) {
    item.urls = {url};
    queue_.push_back(item);
  }
}

bool TReferralChaser::Follow(const TReferred& item) {
  std::string why;
  for (const std::string& url : item.urls) {
    bool end = false;
    if (SearchPlace(item, url, why, end)) return true;
    if (end) return false;
  }
  // Every alternative failed: the last reason stands for the list.
  for (const std::string& url : item.urls) Miss(url, why);
  return true;
}

bool TReferralChaser::SearchPlace(const TReferred& item, const std::string& text, std::string& why,
                                  bool& end) {
  std::optional<TLdapUrl> url = ParseLdapUrl(text);
  if (!url) {
    why = "not an LDAP URL that can be followed";
    return false;
  }
  if (url->Host.empty()) {
    url->Host = item.host;
    url->Port = item.port;
  }
  TSearchRequest request = item.request;
  if (!url->Dn.empty()) request.Base = url->Dn;
  if (url->Scope) request.Scope = *url->Scope;
  if (!url->Filter.empty()) request.Filter = url->Filter;
  const std::string place = Lower(HostAndPort(url->Host, url->Port) + "/" + request.Base);
  if (places_.count(place)) return true;  // searched once already in this run
  if (item.depth > kMaxReferralDepth) {
    why = "not followed: the referrals go more than " + std::to_string(kMaxReferralDepth) + " deep";
    return false;
  }
  places_.insert(place);
  if (OnPlace) OnPlace(text);
  std::unique_ptr<TLDAPSend> other = opener_(*url, why);
  if (!other) {
    end = session_.Cancelled();
    return false;
  }
  TSearchOutcome out;
  {
    TPlaceSink sink(*this, true);
    TSearchDriver driver(*other, sink);
    out = driver.Run(request);
  }
  if (out.Failure == sfCancelled || out.Failure == sfStopped) {
    const int received = outcome_.Received;
    outcome_ = out;
    outcome_.Received = received;
    end = true;
    return false;
  }
  other->Unbind();
  if (out.Code == 10) {
    if (out.Referrals.empty()) {
      why = "it answered that the entry lies elsewhere without saying where";
      return false;
    }
    Queue(out, request, item.depth + 1, url->Host, url->Port, item.base);
    return true;
  }
  if (!out.Delivers()) {
    why = FailureText(out);
    return false;
  }
  ++outcome_.PlacesSearched;
  if (out.Code == 4)
    Miss(text, "cut short by its size limit after " + std::to_string(out.Received) + " entries");
  if (item.base && outcome_.Code == 10) {
    // The base itself was found here: its search is the run's.
    std::vector<TReferralMiss> misses = std::move(outcome_.NotSearched);
    const int searched = outcome_.PlacesSearched;
    outcome_ = out;
    outcome_.NotSearched = std::move(misses);
    outcome_.PlacesSearched = searched;
    outcome_.Referrals.clear();
  }
  Queue(out, request, item.depth + 1, url->Host, url->Port, false);
  return true;
}

void TReferralChaser::Miss(const std::string& url, const std::string& why) {
  outcome_.NotSearched.push_back({url, why});
}

}  // namespace quorvel
