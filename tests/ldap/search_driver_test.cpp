// The search driver against directories that would keep a client reading for
// ever (a paged search that never ends, value ranges that never end) and
// against a silent one that the user cancels. The scripted directory copies
// what such servers send; slapd never misbehaves this way on demand. Each case
// must end within a bounded number of requests, with the release or abandon
// on the wire.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "common/scripted_directory.h"
#include "ldap/searchdriver.h"
#include "net/blocksocket.h"
#include "recording_sink.h"
#include "store/connect.h"

using quorvel::test::ElapsedMs;
using quorvel::test::FakeServer;
using quorvel::test::Members;
using quorvel::test::ScriptedDirectory;
using Request = ScriptedDirectory::Request;

namespace {

const std::string kBase = "ou=people,o=x";

void People(ScriptedDirectory& dir, int n) {
  for (int i = 0; i < n; ++i)
    dir.Add("uid=u" + std::to_string(i) + "," + kBase, {{"cn", {"User " + std::to_string(i)}}});
}

std::unique_ptr<TLDAPSend> Connect(FakeServer& srv) {
  TServerNodeData server;
  server.server = "127.0.0.1";
  server.port = srv.Port();
  auto session = ConnectServer(server);
  EXPECT_NE(session, nullptr);
  if (session) session->Timeout = 10000;
  return session;
}

TProfileNodeData Profile(const std::string& att) {
  TProfileNodeData profile;
  profile.basedn = kBase;
  profile.scope = 2;
  profile.filter = "(objectClass=*)";
  profile.att = att;
  return profile;
}

std::vector<Request> Paged(const std::vector<Request>& all) {
  std::vector<Request> paged;
  for (const auto& r : all)
    if (r.paged) paged.push_back(r);
  return paged;
}

// Every event, in order: "E<position>" for an entry, "R" for a restart, and
// the outcome.
struct EventLog : quorvel::TSearchSink {
  std::vector<std::string> events;
  quorvel::TSearchOutcome outcome;
  int ends = 0;
  bool Entry(std::unique_ptr<TLDAPResult>&, int position) override {
    events.push_back("E" + std::to_string(position));
    return true;
  }
  void Restart() override { events.push_back("R"); }
  void End(const quorvel::TSearchOutcome& o) override {
    outcome = o;
    ++ends;
  }
};

}  // namespace

TEST(SearchDriver, PagingThatNeverEndsFailsAndReleasesTheSearch) {
  struct Case {
    const char* what;
    ScriptedDirectory::PagingFault fault;
    std::size_t pages;   // paged requests before the release
    const char* cookie;  // the cookie released
    const char* text;
  } cases[] = {
      {"the same cookie and entries", ScriptedDirectory::pfConstantCookie, 2, "c",
       quorvel::kPagingRepeated},
      {"pages without entries, fresh cookies", ScriptedDirectory::pfEmptyPages, 3, "e2",
       quorvel::kPagingEmpty},
      {"cookies A and B in turn", ScriptedDirectory::pfAlternating, 3, "A",
       quorvel::kPagingRepeated},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    quorvel::test::RecordingSink messages;
    ScriptedDirectory dir;
    dir.SizeLimit = 1000;
    dir.Paging = c.fault;
    People(dir, 2500);
    FakeServer srv;
    dir.ServeOn(srv);
    ASSERT_TRUE(srv.Start());
    auto session = Connect(srv);
    ASSERT_NE(session, nullptr);
    quorvel::TSearchOutcome out;
    EXPECT_EQ(SearchProfile(session.get(), Profile("cn"), &out), nullptr);
    EXPECT_EQ(out.Failure, quorvel::sfPagingEndless);
    ASSERT_EQ(messages.errors.size(), 1u);
    EXPECT_NE(messages.errors[0].find("while reading the entries in pages"), std::string::npos);
    EXPECT_NE(messages.errors[0].find(std::string("ErrorDesc: ") + c.text), std::string::npos)
        << messages.errors[0];
    session.reset();
    EXPECT_TRUE(srv.Finish()) << srv.Error();
    const auto paged = Paged(dir.Requests());
    ASSERT_EQ(paged.size(), c.pages + 1);
    for (std::size_t p = 0; p < c.pages; ++p) EXPECT_EQ(paged[p].pageSize, 1000);
    EXPECT_EQ(paged.back().pageSize, 0);
    EXPECT_EQ(paged.back().cookie, c.cookie);
    EXPECT_EQ(paged.back().base, kBase);
  }
}

TEST(SearchDriver, OneCookieForAWholeSearchIsNotATrap) {
  // A directory may keep one cookie ("0") for a whole paged search while the
  // pages move on; every entry is read, once.
  quorvel::test::RecordingSink messages;
  ScriptedDirectory dir;
  dir.SizeLimit = 1000;
  dir.Paging = ScriptedDirectory::pfOneCookieMoving;
  People(dir, 2500);
  FakeServer srv;
  dir.ServeOn(srv);
  ASSERT_TRUE(srv.Start());
  auto session = Connect(srv);
  ASSERT_NE(session, nullptr);
  TLDAPResultList* list = SearchProfile(session.get(), Profile("cn"));
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->Count(), 2500);
  EXPECT_EQ(list->Items(2499)->ObjectName(), "uid=u2499," + kBase);
  EXPECT_TRUE(messages.errors.empty());
  session.reset();
  EXPECT_TRUE(srv.Finish());
  const auto paged = Paged(dir.Requests());
  ASSERT_EQ(paged.size(), 3u);
  EXPECT_EQ(paged[2].cookie, "0");
}

TEST(SearchDriver, ValueRangesThatNeverEndFailNamingEntryAndAttribute) {
  quorvel::test::RecordingSink messages;
  ScriptedDirectory dir;
  dir.MaxValues = 10;
  dir.EndlessRanges = true;
  dir.Add("cn=big," + kBase, {{"member", Members(25)}});
  FakeServer srv;
  dir.ServeOn(srv);
  ASSERT_TRUE(srv.Start());
  auto session = Connect(srv);
  ASSERT_NE(session, nullptr);
  EXPECT_EQ(SearchProfile(session.get(), Profile("member")), nullptr);
  ASSERT_EQ(messages.errors.size(), 1u);
  EXPECT_NE(messages.errors[0].find("the values of attribute \"member\" of entry \"cn=big," +
                                    kBase + "\" could not be read in full"),
            std::string::npos)
      << messages.errors[0];
  EXPECT_NE(messages.errors[0].find(quorvel::kRangeNotAdvancing), std::string::npos);
  session.reset();
  EXPECT_TRUE(srv.Finish());
  // bind, the search, one follow-up: the empty part ends it.
  const auto req = dir.Requests();
  ASSERT_EQ(req.size(), 3u);
  EXPECT_EQ(req[2].attributes, std::vector<std::string>{"member;range=10-*"});
}

// A server that sends one more value for every follow-up keeps a search
// going only up to the bounds of follow-ups or values; an answer for another
// entry fails it too, while the same DN spelt otherwise is that entry.
TEST(SearchDriver, ValueRangesEndAtTheirBoundsAndOnlyForTheEntryAskedFor) {
  const std::string big = "cn=big," + kBase;
  struct Case {
    const char* name;
    bool oneValue;         // each follow-up brings one value
    std::string answerDn;  // follow-ups answered under this DN
    uint64_t followUps, values;
    const char* failure;  // nullptr: the search gives every value
    std::size_t asked;    // follow-ups sent
  } cases[] = {
      {"follow-ups bound", true, "", 50, quorvel::kRangeValuesLimit, quorvel::kRangeTooLong, 50},
      {"values bound", true, "", quorvel::kRangeFollowUpsLimit, 30, quorvel::kRangeTooLong, 21},
      {"another entry", false, "cn=other," + kBase, quorvel::kRangeFollowUpsLimit,
       quorvel::kRangeValuesLimit, quorvel::kRangeOtherEntry, 1},
      {"the entry spelt otherwise", false, "CN=Big , OU=People,o=x", quorvel::kRangeFollowUpsLimit,
       quorvel::kRangeValuesLimit, nullptr, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedDirectory dir;
    dir.MaxValues = 10;
    dir.OneValueRanges = c.oneValue;
    dir.RangeAnswerDn = c.answerDn;
    dir.Add(big, {{"member", Members(25)}});
    FakeServer srv;
    dir.ServeOn(srv);
    ASSERT_TRUE(srv.Start());
    auto session = Connect(srv);
    ASSERT_NE(session, nullptr);
    quorvel::TResultListSink list;
    quorvel::TSearchDriver driver(*session, list);
    driver.RangeFollowUps = c.followUps;
    driver.RangeValues = c.values;
    const quorvel::TSearchOutcome out = driver.Run({kBase, "", {"member"}});
    if (c.failure) {
      EXPECT_EQ(out.Failure, quorvel::sfRange);
      EXPECT_EQ(out.Text, c.failure);
      EXPECT_EQ(out.RangeDN, big);
      EXPECT_EQ(out.RangeAttribute, "member");
      EXPECT_EQ(list.Entries().Count(), 0);
    } else {
      EXPECT_EQ(out.Failure, quorvel::sfNone) << out.Text;
      ASSERT_EQ(list.Entries().Count(), 1);
      EXPECT_EQ(list.Entries().Items(0)->Attributes().Items(0).Count(), 25);
    }
    session.reset();
    EXPECT_TRUE(srv.Finish());
    std::size_t followUps = 0;
    for (const Request& r : dir.Requests())
      followUps += r.tag == 0x63 && r.scope == 0 && !r.base.empty();
    EXPECT_EQ(followUps, c.asked);
  }
}

TEST(SearchDriver, EventsTellRestartAndLateRangedEntriesByPosition) {
  ScriptedDirectory dir;
  dir.SizeLimit = 2;
  dir.MaxValues = 10;
  dir.Add("cn=g0," + kBase, {{"member", Members(25)}});
  dir.Add("cn=p1," + kBase, {{"cn", {"p1"}}});
  dir.Add("cn=p2," + kBase, {{"cn", {"p2"}}});
  FakeServer srv;
  dir.ServeOn(srv);
  ASSERT_TRUE(srv.Start());
  auto session = Connect(srv);
  ASSERT_NE(session, nullptr);
  EventLog log;
  quorvel::TSearchDriver driver(*session, log);
  const quorvel::TSearchOutcome& out = driver.Run({kBase, "", {"member", "cn"}});
  EXPECT_EQ(out.Code, 0);
  EXPECT_EQ(out.PagedAfter, 2);
  EXPECT_EQ(out.Received, 3);
  // The capped search: p1 at once, g0 waits for its values; then the pages
  // void it, and g0 comes after the search's end, at its own position.
  EXPECT_EQ(log.events, (std::vector<std::string>{"E1", "R", "E1", "E2", "E0"}));
  EXPECT_EQ(log.ends, 1);
  session.reset();
  EXPECT_TRUE(srv.Finish());
}

TEST(SearchDriver, ACancelDuringSilenceEndsPromptlyAndAbandonsOnTheWire) {
  struct Case {
    const char* what;
    int sizeLimit, stallSearch, stallAfter;
    int received;         // entries of the attempt when cancelled
    const char* release;  // the cookie released, or nullptr for none
  } cases[] = {
      {"a plain search", 0, 0, 5, 5, nullptr},
      {"the second page of a paged search", 1000, 3, 200, 1200, "1000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedDirectory dir;
    dir.SizeLimit = c.sizeLimit;
    dir.StallSearch = c.stallSearch;
    dir.StallAfter = c.stallAfter;
    People(dir, 2500);
    FakeServer srv;
    dir.ServeOn(srv);
    ASSERT_TRUE(srv.Start());
    auto session = Connect(srv);
    ASSERT_NE(session, nullptr);
    std::atomic<bool> cancel{false};
    session->CancelFlag = &cancel;
    // Cancelled from another thread once the server has gone silent.
    std::atomic<int> seen{0};
    session->OnSearchEntry = [&](int n) { seen = n; };
    std::thread user([&] {
      const auto start = std::chrono::steady_clock::now();
      while (seen < c.received && ElapsedMs(start) < 8000)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      cancel = true;
    });
    EventLog log;
    quorvel::TSearchDriver driver(*session, log);
    const auto start = std::chrono::steady_clock::now();
    const quorvel::TSearchOutcome& out = driver.Run({kBase, "", {"cn"}});
    const long long ms = ElapsedMs(start);
    user.join();
    EXPECT_EQ(out.Failure, quorvel::sfCancelled);
    EXPECT_EQ(out.Text, quorvel::kSearchCancelled);
    EXPECT_EQ(out.Received, c.received);
    EXPECT_EQ(log.ends, 1);
    // The silence would last the session's 10 s time-out.
    EXPECT_LT(ms, 5000);
    EXPECT_FALSE(session->Sock()->HasSocket());
    session.reset();
    EXPECT_TRUE(srv.Finish()) << srv.Error();
    const auto req = dir.Requests();
    // ..., the stalled search, the abandon of its id, [the release], the unbind.
    const std::size_t tail = c.release ? 3 : 2;
    ASSERT_GE(req.size(), tail + 1);
    const Request& stalled = req[req.size() - tail - 1];
    EXPECT_EQ(stalled.tag, 0x63);
    EXPECT_EQ(req[req.size() - tail].tag, 0x50);
    EXPECT_EQ(req[req.size() - tail].abandoned, stalled.id);
    if (c.release) {
      EXPECT_TRUE(req[req.size() - 2].paged);
      EXPECT_EQ(req[req.size() - 2].pageSize, 0);
      EXPECT_EQ(req[req.size() - 2].cookie, c.release);
    }
    EXPECT_EQ(req.back().tag, 0x42);
  }
}

// Each page is asked for as soon as the page before has ended, before that
// page's last entry is stored, so that the server reads the next page while
// the client stores; the entries are still told in their order. A sink that
// stops on that last entry ends the search as any stop does: the page
// already asked for is abandoned and the paged search released at its cookie.
TEST(SearchDriver, TheNextPageIsAskedForBeforeAPagesLastEntryIsTold) {
  struct Case {
    const char* what;
    int stopAt;  // the position at which the sink stops, or -1
  } cases[] = {{"read to the end", -1}, {"stopped on the first page's last entry", 999}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedDirectory dir;
    dir.SizeLimit = 1000;
    People(dir, 2500);
    FakeServer srv;
    dir.ServeOn(srv);
    ASSERT_TRUE(srv.Start());
    auto session = Connect(srv);
    ASSERT_NE(session, nullptr);
    // At each page's last entry: the paged requests the server has had.
    struct Sink : EventLog {
      ScriptedDirectory* dir = nullptr;
      int stopAt = -1;
      bool paged = false;  // the pages' entries (after the restart)
      std::vector<std::size_t> asked;
      bool Entry(std::unique_ptr<TLDAPResult>& entry, int position) override {
        EventLog::Entry(entry, position);
        if (!paged) return true;
        if (position % 1000 == 999) {
          // The request is on its way; give the server's thread the moment it
          // takes to record it.
          const auto start = std::chrono::steady_clock::now();
          const std::size_t want = static_cast<std::size_t>(position / 1000 + 2);
          while (Paged(dir->Requests()).size() < want && ElapsedMs(start) < 2000)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
          asked.push_back(Paged(dir->Requests()).size());
        }
        return position != stopAt;
      }
      void Restart() override {
        EventLog::Restart();
        paged = true;
      }
    } sink;
    sink.dir = &dir;
    sink.stopAt = c.stopAt;
    quorvel::TSearchDriver driver(*session, sink);
    const quorvel::TSearchOutcome& out = driver.Run({kBase, "", {"cn"}});
    session.reset();
    EXPECT_TRUE(srv.Finish()) << srv.Error();
    const auto paged = Paged(dir.Requests());
    // The first attempt's 1000 entries, the restart, then the pages' in order.
    std::vector<std::string> expected;
    for (int i = 0; i < 1000; ++i) expected.push_back("E" + std::to_string(i));
    expected.push_back("R");
    const int last = c.stopAt >= 0 ? c.stopAt : 2499;
    for (int i = 0; i <= last; ++i) expected.push_back("E" + std::to_string(i));
    EXPECT_EQ(sink.events, expected);
    if (c.stopAt < 0) {
      EXPECT_EQ(out.Code, 0);
      EXPECT_EQ(sink.asked, (std::vector<std::size_t>{2, 3}));
      ASSERT_EQ(paged.size(), 3u);
      continue;
    }
    EXPECT_EQ(out.Failure, quorvel::sfStopped);
    EXPECT_EQ(sink.asked, std::vector<std::size_t>{2});
    // Page 0, page 1 (asked for before the stop), the release at page 1's cookie.
    ASSERT_EQ(paged.size(), 3u);
    EXPECT_EQ(paged[1].cookie, "1000");
    EXPECT_EQ(paged[2].pageSize, 0);
    EXPECT_EQ(paged[2].cookie, "1000");
    const auto req = dir.Requests();
    ASSERT_GE(req.size(), 4u);
    EXPECT_EQ(req[req.size() - 3].tag, 0x50);
    EXPECT_EQ(req[req.size() - 3].abandoned, paged[1].id);
    EXPECT_EQ(req.back().tag, 0x42);
  }
}
