// A small directory served by FakeServer that answers the way a size-capped
// directory does, for the behaviour slapd cannot show (value ranges) and for
// the faults of paging (refusals, pages failing half way):
//
//   - a bind of any name succeeds;
//   - a search of the root DSE ("" base, base scope) returns supportedControl,
//     listing the paged-results control when ListsPaging;
//   - a plain search returns at most SizeLimit entries (0: no limit), then
//     result 4, like a directory whose plain searches are capped;
//   - a search with the paged-results control returns the page asked for and a
//     cookie (the decimal offset of the next entry; empty after the last);
//   - an attribute with more than MaxValues values (0: no limit) is sent as
//     NAME;range=0-(MaxValues-1); asking for NAME;range=LO-* gives the next
//     MaxValues values as NAME;range=LO-HI, or NAME;range=LO-* for the last.
//
// Faults of directories that would keep a client reading for ever, and of a
// silent one (each bounded: FakeServer's own time limit ends the script):
//   Paging       how paged searches move on (PagingFault below); a paged
//                search with page size 0 (the client's release) is answered
//                with no entry and an empty cookie.
//   EndlessRanges  every follow-up NAME;range=N-* is answered with
//                NAME;range=N-N and no value.
//   OneValueRanges every follow-up NAME;range=N-* is answered with
//                NAME;range=N-N and one new value ("uid=vN,o=x"): a server
//                that keeps a client reading as long as it likes.
//   RangeAnswerDn  when set, follow-ups are answered with the entry under
//                this DN instead of the one asked for.
//   StallSearch  the search request (0 first, counting every search: plain,
//                root DSE, pages, follow-ups) that sends StallAfter entries
//                and then nothing at all, as a server that went silent.
//
// Base scope finds the entry whose DN equals the base, the other scopes every
// entry whose DN ends in the base (all of them for an empty base); filters are
// not looked at. Every request is recorded, decoded, in Requests().
//
//   quorvel::test::ScriptedDirectory dir;
//   dir.MaxValues = 1500;
//   dir.Add("cn=g,o=x", {{"cn", {"g"}}, {"member", members}});
//   FakeServer srv;
//   dir.ServeOn(srv);
//   srv.Start();  ... connect to srv.Port() ...
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "common/fake_server.h"

namespace quorvel::test {

class ScriptedDirectory {
 public:
  using Attribute = std::pair<std::string, std::vector<std::string>>;
  struct Entry {
    std::string dn;
    std::vector<Attribute> attributes;
  };
  // One request as the client sent it.
  struct Request {
    int id = 0;
    int tag = 0;  // 0x60 bind, 0x63 search, 0x42 unbind, ...
    std::string base;
    int scope = -1;
    std::vector<std::string> attributes;
    std::string controls;  // the raw [0] Controls item, empty when none
    bool paged = false;
    int pageSize = 0;
    std::string cookie;
    int abandoned = 0;  // an AbandonRequest's message id
  };
  enum PagingFault {
    pfNone,             // cookies are the offset of the next entry
    pfConstantCookie,   // every page: cookie "c" and the first page's entries
    pfEmptyPages,       // every page: no entry, a fresh cookie
    pfAlternating,      // cookies "A", "B", "A", ... each with the first page's entries
    pfOneCookieMoving,  // one cookie "0" for the whole search, entries moving on
                        // (a real directory may do this: not a fault)
  };

  void Add(std::string dn, std::vector<Attribute> attributes);

  int SizeLimit = 0;
  bool ListsPaging = true;
  int MaxValues = 0;
  std::string RangeOption = "range";  // spelling of the option sent back
  // Faults:
  int RefusePagingWith = 0;   // answer every paged search with this result
  int FailPage = -1;          // the page (0 first) that breaks half way...
  int FailPageWith = 0;       // ...with this result, or 0: the connection closes
  int FailRangeRequest = -1;  // the range follow-up (0 first) answered with...
  int FailRangeWith = 1;      // ...this result, or 0: the connection closes
  PagingFault Paging = pfNone;
  bool EndlessRanges = false;
  bool OneValueRanges = false;
  std::string RangeAnswerDn;
  int StallSearch = -1;
  int StallAfter = 0;

  // Adds the Serve step answering every request to srv.
  void ServeOn(FakeServer& srv);
  std::vector<Request> Requests() const;

 private:
  bool Answer(const std::string& message, std::string& reply);
  std::string EntryMessage(int id, const Entry& e, const std::vector<std::string>& wanted,
                           bool& failed_range);

  std::vector<Entry> entries_;
  int pages_ = 0;
  int rangeRequests_ = 0;
  int searches_ = 0;
  std::size_t moving_ = 0;  // pfOneCookieMoving: the next entry
  mutable std::mutex mu_;
  std::vector<Request> requests_;
};

// `n` member DNs, "uid=m0,o=x" to "uid=m<n-1>,o=x": a value list long enough
// to be sent in ranges.
std::vector<std::string> Members(int n);

// An LDAP message: envelope with id around operation (and controls).
std::string LdapMessage(int id, const std::string& operation, const std::string& controls = "");
// A SearchResultDone / BindResponse-like LDAPResult operation.
std::string LdapResult(int tag, int code, const std::string& text = "");

}  // namespace quorvel::test
