// One search as the user means it, run as the requests it takes on one session,
// with what it finds handed on as a stream of events.
//
// A search is more than one SearchRequest when the directory caps plain
// searches or sends long value lists in ranges. TSearchDriver owns that
// sequence; the session (ldap/session.h) only answers one request at a time:
//
//   1. The search goes out exactly as TLDAPSend::Search sends it (no controls).
//      Any end other than result 4 (size limit exceeded) is the outcome.
//   2. After result 4 (and with ReadInPages), a base search of the root DSE
//      asks for supportedControl. When it does not list kPagedResultsOid (or
//      cannot be read), the first attempt stands.
//   3. Otherwise Events.Started(entries of the first attempt) is told and the
//      search is sent again with the paged-results control (kPageSize entries
//      a page, not critical), once per page, following the cookie until the
//      server sends an empty one (or none). The last entry of a full page
//      (its kPageSize-th) is told only once the next page's request has gone
//      out: the server then reads the next page while that entry is stored,
//      instead of waiting for it (the entries keep their order, and the
//      requests are the same). The sink is told Restart before
//      the paged search's first entry (or at the end of its first page when it
//      brings none): the entries so far are void.
//   4. A page ending with a non-zero result ends the search with it (result 4
//      again: a total cap that paging cannot lift). When the first page is
//      refused outright (an error other than 4 or 10 before any entry, as from
//      a server that lists the control but answers 12 or 53),
//      Events.Refused(code, text) is told and the first attempt stands.
//   5. Paging that would never end fails the search (sfPagingEndless): a
//      cookie the server sent before together with the same page it came
//      with before (the same entries, by DN), or kEmptyPagesLimit pages in a
//      row that bring no entry. A cookie alone may repeat: some directories
//      send one constant cookie (such as "0") for a whole paged search. The
//      client then releases the server's paged search as RFC 2696 says: the
//      same search with page size 0 and the last cookie (its answer read).
//   6. When the search ended with result 0 or 4 and CompleteRanges is set,
//      every entry with an attribute sent in a range (member;range=0-1499) is
//      completed by base-scope searches of the entry asking for
//      NAME;range=(HI+1)-*, values appended in the order received, until a
//      part whose range ends in "*" or an answer without the attribute. A
//      follow-up that fails, misses the entry, does not start where the last
//      part ended, or is not the last part yet brings no value, fails the
//      search (sfRange) naming the entry and the attribute; so does an answer
//      for another entry than the one asked for (its DN compared without
//      regard to ASCII case or blanks around its separators), and an
//      attribute that would take more than RangeFollowUps follow-ups or
//      gather more than RangeValues values (kRangeTooLong): a server that
//      answers every follow-up with one more value ends there.
//
// Events, in order, on the thread that calls Run:
//   Entry(entry, position)  an entry complete (its ranged values read in full),
//                           position = its place in the order of arrival of
//                           the present attempt (0 first). Entries without
//                           ranged values come as they arrive; those with
//                           ranged values once their follow-ups are read,
//                           after the search itself has ended.
//   Restart()               every entry told so far is void.
//   End(outcome)            exactly once, last.
// The session's OnSearchEntry, when set, is told the count of entries of the
// present attempt after each entry arrives (after its Entry event when it
// needs no follow-up).
//
// Cancel: set the flag the session's CancelFlag points to (from any thread).
// The driver sees it between messages and within
// TLDAPSend::kCancelSliceMs of a silent wait; it then sends an AbandonRequest
// for the request still outstanding, for a paged search the release of step
// 5 (when the server gave a cookie), an unbind, and closes the connection,
// without waiting for any answer; the outcome is sfCancelled. A sink whose
// Entry returns false stops the search the same way (sfStopped; the release's
// answer is read).
//
// The driver never throws and keeps no entry beyond the ones waiting for
// their follow-ups. The session's ResultCode() and friends tell the last
// request, as always; the search's outcome is the one End and Run give.
//
//   quorvel::TResultListSink list;
//   quorvel::TSearchDriver driver(session, list);
//   const quorvel::TSearchOutcome& out = driver.Run({base, filter, names, SS_WholeSubtree});
//   if (out.Code == 0 || out.Code == 4) ... list.Entries() ...
//
// A sink that leaves the entry in place (a row stream, TSearchCounter) gets
// each entry released as soon as its Entry returns: a search of any size then
// holds only the entries waiting for their ranged values.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ldap/paging.h"
#include "ldap/pagingcodec.h"
#include "ldap/results.h"
#include "ldap/session.h"
#include "ldap/valueranges.h"

namespace quorvel {

// The texts of the driver's own failures.
inline constexpr const char* kSearchCancelled = "The search was cancelled";
inline constexpr const char* kSearchStopped = "The search was stopped";

// What ended a search that did not end well.
enum TSearchFailure {
  sfNone = 0,       // the server's result (0, or 4: size limit) ends the search
  sfServer,         // the server answered with another result
  sfConnection,     // no answer: the connection failed, went silent or sent no LDAP
  sfPagingEndless,  // step 5
  sfRange,          // step 6
  sfCancelled,      // the Cancel flag
  sfStopped,        // a sink's Entry returned false
};

struct TSearchOutcome {
  int32_t Code = -1;  // the result code (-1: none, or a failure of the driver's own)
  std::string Text;   // the server's text, or the driver's (kPagingRepeated, ...)
  std::vector<std::string> Referrals;  // of every request of the final attempt
  TSearchFailure Failure = sfConnection;
  // The socket's error number and texts (its own, the SSL layer's) when the
  // request that ended the search ended; 0 and empty otherwise. Whether they
  // are what to show is ErrorLines' rule (store/connect.h).
  int32_t SocketError = 0;
  std::string SocketErrorText, SslErrorText;
  int PagedAfter = -1;  // entries of the first attempt when paging started (-1: not paged)
  int Received = 0;     // entries received in the final attempt
  std::string RangeDN, RangeAttribute;  // sfRange: the entry and the attribute (no range option)

  // The search gives its entries: result 0, or 4 (cut by the size limit).
  bool Delivers() const { return Failure == sfNone; }
};

// Where a search's events go (see the top of this file).
class TSearchSink {
 public:
  virtual ~TSearchSink() = default;
  // The sink may keep the entry by moving it out of `entry`; whatever is
  // left is destroyed after the call. False stops the search (sfStopped).
  virtual bool Entry(std::unique_ptr<TLDAPResult>& entry, int position) = 0;
  virtual void Restart() = 0;
  virtual void End(const TSearchOutcome& outcome) = 0;
};

struct TSearchRequest {
  std::string Base;
  std::string Filter;
  std::vector<std::string> Attributes;
  TLDAPSearchScope Scope = SS_WholeSubtree;
  bool TypesOnly = false;
};

// The in-memory result: keeps every entry in the order of arrival, and the
// outcome. After End, Entries() holds the entries told (a Restart dropped
// those before it); an entry whose follow-ups never came is not there.
class TResultListSink : public TSearchSink {
 public:
  // Fills `into` (cleared at End, then filled) instead of a list of its own.
  explicit TResultListSink(TLDAPResultList* into = nullptr) : list_(into ? into : &own_) {}
  bool Entry(std::unique_ptr<TLDAPResult>& entry, int position) override;
  void Restart() override;
  void End(const TSearchOutcome& outcome) override;
  TLDAPResultList& Entries() { return *list_; }
  const TSearchOutcome& Outcome() const { return outcome_; }

 private:
  TLDAPResultList own_;
  TLDAPResultList* list_;
  // The entries by position until End puts them into the list in that order.
  std::vector<std::unique_ptr<TLDAPResult>> slots_;
  TSearchOutcome outcome_;
};

// Keeps no entry: counts the entries told since the last Restart (those of
// the final attempt once the search has ended) and keeps the outcome. Beside
// a sink that stores rows, it is what a caller needs of the whole result
// without holding it: how many entries the search gave, and how it ended.
class TSearchCounter : public TSearchSink {
 public:
  bool Entry(std::unique_ptr<TLDAPResult>& entry, int position) override;
  void Restart() override { count_ = 0; }
  void End(const TSearchOutcome& outcome) override;
  int Count() const { return count_; }
  // After End.
  bool Ended() const { return ended_; }
  const TSearchOutcome& Outcome() const { return outcome_; }

 private:
  int count_ = 0;
  bool ended_ = false;
  TSearchOutcome outcome_;
};

// Tells every event to `watcher` first (it must not keep the entry), then to
// `keeper`. Either may be nullptr.
class TSearchTee : public TSearchSink {
 public:
  TSearchTee(TSearchSink* watcher, TSearchSink* keeper) : watcher_(watcher), keeper_(keeper) {}
  bool Entry(std::unique_ptr<TLDAPResult>& entry, int position) override;
  void Restart() override;
  void End(const TSearchOutcome& outcome) override;

 private:
  TSearchSink* watcher_;
  TSearchSink* keeper_;
};

class TSearchDriver {
 public:
  TSearchDriver(TLDAPSend& session, TSearchSink& sink) : session_(session), sink_(sink) {}
  TSearchDriver(const TSearchDriver&) = delete;
  TSearchDriver& operator=(const TSearchDriver&) = delete;

  bool ReadInPages = true;     // steps 2 to 5
  bool CompleteRanges = true;  // step 6
  // Step 6's bounds for one attribute: follow-ups, and values in all.
  uint64_t RangeFollowUps = kRangeFollowUpsLimit;
  uint64_t RangeValues = kRangeValuesLimit;
  TPagingEvents Events;

  // Runs the search (steps above) and returns the outcome also told to End.
  const TSearchOutcome& Run(const TSearchRequest& request);

 private:
  struct TPending {
    std::unique_ptr<TLDAPResult> entry;
    int position;
  };
  void RunSteps(const TSearchRequest& request);
  // One request. Entries of the search itself (`search`) go to OnEntry,
  // others to answer_. Once interrupted nothing is sent but a `release`.
  // page_size: the entries a page asked for (TLDAPSend::SearchRequest).
  // False when it did not end with result 0.
  bool Request(TLDAPSearchScope scope, const std::string& base, bool types_only,
               const std::string& filter, const std::vector<std::string>& attributes,
               const std::string& controls, std::string* done_controls, bool search,
               bool release = false, int page_size = 0);
  // Request in its two halves: Send is false when nothing was sent (an
  // interrupted search), Read as Request.
  bool Send(TLDAPSearchScope scope, const std::string& base, bool types_only,
            const std::string& filter, const std::vector<std::string>& attributes,
            const std::string& controls, bool release);
  bool Read(std::string* done_controls, bool search, int page_size);
  // An entry of the search arrived. The last entry of a full page is held
  // until the next page is asked for; every other is told at once. False
  // stops the reading.
  bool OnEntry(std::unique_ptr<TLDAPResult> entry, bool last_of_page);
  // Tells the sink of an entry (or keeps it for its ranged values).
  bool Tell(TPending& p);
  bool TellHeld();
  void Restart();
  bool Interrupted() const { return stopped_ || session_.Cancelled(); }
  // The outcome is the last request's (code, text, referrals, socket error).
  void TakeRequestOutcome();
  void ReadPages(const TSearchRequest& request);
  bool ListsPaging();
  void CompleteRangedEntries();
  // Reads the parts after `first` (which held `held` values) of one
  // attribute; false has set outcome_.
  bool ReadRest(const std::string& dn, const TValueRange& first, uint64_t held,
                std::vector<std::string>& out);
  // Ends the search on a cancel or a sink's stop: abandons the request still
  // outstanding, releases a paged search at `cookie` (when not empty), unbinds.
  void Interrupt(const std::string& cookie);
  void Release(const TSearchRequest& request, const std::string& cookie);
  void Fail(TSearchFailure failure, const char* text);

  TLDAPSend& session_;
  TSearchSink& sink_;
  TSearchOutcome outcome_;
  const TSearchRequest* request_ = nullptr;
  bool paging_ = false;  // the paged search is under way
  bool restarted_ = false;
  bool stopped_ = false;           // the sink asked to stop
  bool sent_ = false;              // the last request was sent
  bool outstanding_ = false;       // ... and its done message not read
  int received_ = 0;               // entries of the present attempt
  int request_entries_ = 0;        // entries of the last request
  uint64_t page_print_ = 0;        // the DNs of the last request's entries, hashed
  std::vector<TPending> pending_;  // entries waiting for their ranged values
  TPending held_;                  // the last entry of a page, told once the next is asked for
  std::vector<std::unique_ptr<TLDAPResult>> answer_;  // entries of a request of the driver's own
};

}  // namespace quorvel
