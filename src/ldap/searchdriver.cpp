// The sequence of one search: first search, root DSE, pages, value-range
// follow-ups, cancel and release (the steps are listed in ldap/searchdriver.h).
#include "ldap/searchdriver.h"

#include <limits>
#include <map>
#include <utility>

#include "ldap/ber.h"
#include "net/blocksocket.h"

namespace quorvel {

namespace {

// FNV-1a over the DNs of a page, each closed by a NUL: equal pages, equal prints.
uint64_t AddToPrint(uint64_t print, std::string_view dn) {
  if (print == 0) print = 1469598103934665603ull;
  for (unsigned char c : dn) print = (print ^ c) * 1099511628211ull;
  return print * 1099511628211ull;
}

bool ListsPagedResults(const std::vector<std::unique_ptr<TLDAPResult>>& dse) {
  for (const auto& entry : dse) {
    const TLDAPAttributeList attrs = entry->Attributes();
    for (int a = 0; a < attrs.Count(); ++a) {
      const TLDAPAttribute attr = attrs.Items(a);
      if (!EqualsNoCaseAscii(attr.AttributeName(), "supportedControl")) continue;
      for (int v = 0; v < attr.Count(); ++v)
        if (attr.Value(v) == kPagedResultsOid) return true;
    }
  }
  return false;
}

// A DN as compared by SameDn: ASCII letters in lower case, and no run of
// blanks at either end or beside a separator (",", "+", "=").
std::string DnForComparing(std::string_view dn) {
  const auto separator = [](char c) { return c == ',' || c == '+' || c == '='; };
  std::string out;
  out.reserve(dn.size());
  for (std::size_t i = 0; i < dn.size();) {
    if (dn[i] != ' ') {
      const char c = dn[i++];
      out += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
      continue;
    }
    std::size_t end = i;
    while (end < dn.size() && dn[end] == ' ') ++end;
    const bool beside = i == 0 || end == dn.size() || separator(dn[i - 1]) || separator(dn[end]);
    if (!beside) out.append(end - i, ' ');
    i = end;
  }
  return out;
}

// The same DN, as directories may spell one DN with other case or blanks.
bool SameDn(std::string_view a, std::string_view b) {
  return DnForComparing(a) == DnForComparing(b);
}

}  // namespace

// --- sinks -----------------------------------------------------------------

bool TResultListSink::Entry(std::unique_ptr<TLDAPResult>& entry, int position) {
  if (position < 0) return true;
  const auto at = static_cast<std::size_t>(position);
  if (slots_.size() <= at) slots_.resize(at + 1);
  slots_[at] = std::move(entry);
  return true;
}

void TResultListSink::Restart() {
  slots_.clear();
}

void TResultListSink::End(const TSearchOutcome& outcome) {
  outcome_ = outcome;
  list_->Clear();
  for (auto& entry : slots_) list_->Adopt(std::move(entry));
  slots_.clear();
}

bool TSearchCounter::Entry(std::unique_ptr<TLDAPResult>&, int) {
  ++count_;
  return true;
}

void TSearchCounter::End(const TSearchOutcome& outcome) {
  ended_ = true;
  outcome_ = outcome;
}

bool TSearchTee::Entry(std::unique_ptr<TLDAPResult>& entry, int position) {
  bool go_on = true;
  if (watcher_ && entry) go_on = watcher_->Entry(entry, position);
  if (keeper_ && entry) go_on = keeper_->Entry(entry, position) && go_on;
  return go_on;
}

void TSearchTee::Restart() {
  if (watcher_) watcher_->Restart();
  if (keeper_) keeper_->Restart();
}

void TSearchTee::End(const TSearchOutcome& outcome) {
  if (watcher_) watcher_->End(outcome);
  if (keeper_) keeper_->End(outcome);
}

// --- the driver --------------------------------------------------------------

const TSearchOutcome& TSearchDriver::Run(const TSearchRequest& request) {
  outcome_ = TSearchOutcome();
  request_ = &request;
  paging_ = restarted_ = stopped_ = outstanding_ = false;
  received_ = 0;
  pending_.clear();
  held_ = {};
  try {
    RunSteps(request);
  } catch (...) {
    // Only a sink or the memory can throw here; nothing escapes the driver.
    Fail(sfStopped, kSearchStopped);
  }
  outcome_.Received = received_;
  pending_.clear();
  held_ = {};
  answer_.clear();
  sink_.End(outcome_);
  request_ = nullptr;
  return outcome_;
}

void TSearchDriver::RunSteps(const TSearchRequest& r) {
  // 1. The search as Search sends it.
  Request(r.Scope, r.Base, r.TypesOnly, r.Filter, r.Attributes, {}, nullptr, true);
  if (Interrupted()) return Interrupt({});
  TakeRequestOutcome();
  // 2. to 5.
  if (outcome_.Code == 4 && ReadInPages) {
    ReadPages(r);
    if (outcome_.Failure != sfNone) return;
  }
  // 6.
  if (outcome_.Failure == sfNone) CompleteRangedEntries();
}

bool TSearchDriver::Request(TLDAPSearchScope scope, const std::string& base, bool types_only,
                            const std::string& filter, const std::vector<std::string>& attributes,
                            const std::string& controls, std::string* done_controls, bool search,
                            bool release, int page_size) {
  if (done_controls) done_controls->clear();
  return Send(scope, base, types_only, filter, attributes, controls, release) &&
         Read(done_controls, search, page_size);
}

bool TSearchDriver::Send(TLDAPSearchScope scope, const std::string& base, bool types_only,
                         const std::string& filter, const std::vector<std::string>& attributes,
                         const std::string& controls, bool release) {
  sent_ = outstanding_ = false;
  request_entries_ = 0;
  page_print_ = 0;
  answer_.clear();
  // A release still goes out after a cancel; the session then reads nothing.
  if (Interrupted() && !release) return false;
  sent_ = outstanding_ = true;
  session_.SendSearchRequest(scope, base, types_only, filter, attributes, controls);
  return true;
}

bool TSearchDriver::Read(std::string* done_controls, bool search, int page_size) {
  const bool ok = session_.ReadSearchAnswer(
      [this, search, page_size](std::unique_ptr<TLDAPResult> entry) {
        ++request_entries_;
        if (search) return OnEntry(std::move(entry), request_entries_ == page_size);
        answer_.push_back(std::move(entry));
        return !Interrupted();
      },
      done_controls);
  outstanding_ = session_.ResponseTag() != 0x65;
  return ok;
}

bool TSearchDriver::OnEntry(std::unique_ptr<TLDAPResult> entry, bool last_of_page) {
  // The paged search's first entry voids the first attempt's.
  if (paging_ && !restarted_) Restart();
  // Only pages are compared by their prints.
  if (paging_) page_print_ = AddToPrint(page_print_, entry->ObjectName());
  TPending arrived{std::move(entry), received_++};
  if (last_of_page) {
    // Told once the next page is asked for (ReadPages).
    held_ = std::move(arrived);
    return !session_.Cancelled();
  }
  return Tell(arrived);
}

bool TSearchDriver::Tell(TPending& p) {
  bool go_on = true;
  if (CompleteRanges && HasRangedValues(*p.entry)) {
    pending_.push_back(std::move(p));
  } else {
    go_on = sink_.Entry(p.entry, p.position);
  }
  if (session_.OnSearchEntry) session_.OnSearchEntry(received_);
  if (!go_on) stopped_ = true;
  return go_on && !session_.Cancelled();
}

bool TSearchDriver::TellHeld() {
  if (!held_.entry) return true;
  TPending p = std::move(held_);
  held_ = {};
  return Tell(p);
}

void TSearchDriver::Restart() {
  sink_.Restart();
  received_ = 0;
  pending_.clear();
  restarted_ = true;
}

void TSearchDriver::TakeRequestOutcome() {
  outcome_.Code = session_.ResultCode();
  outcome_.Text = session_.ResultString();
  outcome_.Referrals = session_.Referals();
  outcome_.Failure = outcome_.Code == 0 || outcome_.Code == 4 ? sfNone
                     : outcome_.Code > 0                      ? sfServer
                                                              : sfConnection;
  const TTCPBlockSocket* sock = session_.Sock();
  outcome_.SocketError = sock->LastError();
  outcome_.SocketErrorText = outcome_.SocketError ? sock->LastErrorText() : std::string();
  outcome_.SslErrorText = outcome_.SocketError ? sock->SSL()->LastErrorText() : std::string();
}

void TSearchDriver::Fail(TSearchFailure failure, const char* text) {
  outcome_.Code = -1;
  outcome_.Text = text;
  outcome_.Failure = failure;
  outcome_.SocketError = 0;
  outcome_.SocketErrorText.clear();
  outcome_.SslErrorText.clear();
}

bool TSearchDriver::ListsPaging() {
  return Request(SS_BaseObject, "", false, "(objectClass=*)", {"supportedControl"}, {}, nullptr,
                 false) &&
         ListsPagedResults(answer_);
}

void TSearchDriver::ReadPages(const TSearchRequest& r) {
  if (!ListsPaging()) {
    if (Interrupted()) Interrupt({});
    return;  // the first attempt stands
  }
  const TSearchOutcome first = outcome_;
  if (Events.Started) Events.Started(received_);
  outcome_.PagedAfter = received_;
  paging_ = true;
  std::vector<std::string> referrals;
  // Each cookie the server sent, with the print of the page it came with.
  std::map<std::string, uint64_t> sent;
  int empty_pages = 0;
  std::string cookie, done;
  // The page's request went out already, before the last entry of the page
  // before was told: the server works on it while that entry is stored.
  bool asked = false;
  for (int page = 0;; ++page) {
    if (!asked)
      Send(r.Scope, r.Base, r.TypesOnly, r.Filter, r.Attributes,
           EncodePagedResultsControl(kPageSize, cookie), false);
    asked = false;
    const bool ok = sent_ && Read(&done, true, kPageSize);
    for (const auto& url : session_.Referals()) referrals.push_back(url);
    std::string next;
    const bool more = !outstanding_ && DecodePagedResultsCookie(done, next) && !next.empty();
    if (Interrupted()) {
      // The server holds the paged search at the last cookie it gave.
      return Interrupt(!sent_ || outstanding_ ? cookie : more ? next : std::string());
    }
    if (!ok) {
      const int32_t code = session_.ResultCode();
      const bool refused =
          page == 0 && request_entries_ == 0 && code > 0 && code != 4 && code != 10;
      if (refused) {
        if (Events.Refused) Events.Refused(code, session_.ResultString());
        outcome_ = first;
        outcome_.PagedAfter = -1;
        paging_ = false;
        return;
      }
      if (!restarted_) Restart();
      TakeRequestOutcome();
      outcome_.Referrals = std::move(referrals);
      if (!TellHeld()) Interrupt({});
      return;
    }
    if (!restarted_) Restart();  // a first page without entries
    if (!more) {
      TakeRequestOutcome();
      outcome_.Referrals = std::move(referrals);
      if (!TellHeld()) Interrupt({});
      return;
    }
    const char* endless = nullptr;
    const auto [at, fresh] = sent.emplace(next, page_print_);
    if (!fresh && at->second == page_print_) endless = kPagingRepeated;
    at->second = page_print_;
    empty_pages = request_entries_ == 0 ? empty_pages + 1 : 0;
    if (empty_pages >= kEmptyPagesLimit) endless = kPagingEmpty;
    if (endless) {
      Release(r, next);
      if (Interrupted()) return Interrupt({});
      Fail(sfPagingEndless, endless);
      outcome_.Referrals = std::move(referrals);
      return;
    }
    cookie = std::move(next);
    if (held_.entry) {
      Send(r.Scope, r.Base, r.TypesOnly, r.Filter, r.Attributes,
           EncodePagedResultsControl(kPageSize, cookie), false);
      asked = true;
      if (!TellHeld()) return Interrupt(cookie);
    }
  }
}

void TSearchDriver::Release(const TSearchRequest& r, const std::string& cookie) {
  Request(r.Scope, r.Base, r.TypesOnly, r.Filter, r.Attributes,
          EncodePagedResultsControl(0, cookie), nullptr, false, true);
}

void TSearchDriver::Interrupt(const std::string& cookie) {
  const bool cancelled = session_.Cancelled();
  if (outstanding_) session_.Abandon(session_.Seq());
  outstanding_ = false;
  // Sent, and not waited for when cancelled: the connection closes right after.
  if (!cookie.empty() && request_) Release(*request_, cookie);
  session_.Unbind();
  Fail(cancelled ? sfCancelled : sfStopped, cancelled ? kSearchCancelled : kSearchStopped);
}

void TSearchDriver::CompleteRangedEntries() {
  for (TPending& p : pending_) {
    TLDAPResult& entry = *p.entry;
    const TLDAPAttributeList attrs = entry.Attributes();
    for (int k = 0; k < attrs.Count(); ++k) {
      TLDAPAttribute attr = attrs.Items(k);
      const std::optional<TValueRange> range = ParseValueRange(attr.AttributeName());
      if (!range) continue;
      std::vector<std::string> rest;
      if (!range->ToEnd && !ReadRest(std::string(entry.ObjectName()), *range,
                                     static_cast<uint64_t>(attr.Count()), rest)) {
        if (outcome_.Failure == sfRange) {
          outcome_.RangeDN = std::string(entry.ObjectName());
          outcome_.RangeAttribute = range->Name;
        }
        return;
      }
      attr.RenameAndAppend(range->Name, rest);
    }
    if (!sink_.Entry(p.entry, p.position)) {
      stopped_ = true;
      return Interrupt({});
    }
  }
  pending_.clear();
}

bool TSearchDriver::ReadRest(const std::string& dn, const TValueRange& first, uint64_t held,
                             std::vector<std::string>& out) {
  uint64_t next = first.High + 1;
  for (uint64_t followUps = 0;; ++followUps) {
    if (followUps == RangeFollowUps || held + out.size() > RangeValues) {
      Fail(sfRange, kRangeTooLong);
      return false;
    }
    const bool ok =
        Request(SS_BaseObject, dn, false, "(objectClass=*)",
                {first.Name + ";range=" + std::to_string(next) + "-*"}, {}, nullptr, false);
    if (Interrupted()) {
      Interrupt({});
      return false;
    }
    if (!ok) {
      TakeRequestOutcome();
      outcome_.Failure = sfRange;
      return false;
    }
    if (answer_.empty()) {
      Fail(sfRange, kRangeEntryMissing);
      return false;
    }
    if (!SameDn(answer_[0]->ObjectName(), dn)) {
      Fail(sfRange, kRangeOtherEntry);
      return false;
    }
    const TLDAPAttributeList attrs = answer_[0]->Attributes();
    std::optional<TValueRange> got;
    TLDAPAttribute values;
    for (int k = 0; k < attrs.Count() && !got; ++k) {
      got = ParseValueRange(attrs.Items(k).AttributeName());
      if (got && EqualsNoCaseAscii(got->Name, first.Name)) {
        values = attrs.Items(k);
      } else {
        got.reset();
      }
    }
    if (!got) return true;  // no further values
    // A part that starts elsewhere, or that is not the last and brings no
    // value (or could have no successor), would have the reading go on for ever.
    if (got->Low != next || (!got->ToEnd && (values.Count() == 0 ||
                                             got->High == std::numeric_limits<uint64_t>::max()))) {
      Fail(sfRange, kRangeNotAdvancing);
      return false;
    }
    for (int v = 0; v < values.Count(); ++v) out.emplace_back(values.Value(v));
    if (got->ToEnd) return true;
    next = got->High + 1;
  }
}

}  // namespace quorvel
