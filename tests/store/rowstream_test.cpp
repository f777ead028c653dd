// A run's rows stored while the entries arrive: the table they end in must be
// the one FillExportTable makes from the final result, whatever the search
// went through (paging started over, refused, values in ranges), and a run
// that fails must leave the last run's rows alone. The directory is the
// scripted one that answers like a size-capped directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "common/scripted_directory.h"
#include "sqlstore/testutil.h"
#include "ldap/searchdriver.h"
#include "store/connect.h"
#include "store/data.h"
#include "store/profilerun.h"
#include "store/testcatalogue.h"

using quorvel::test::FakeServer;
using quorvel::test::Members;
using quorvel::test::ScriptedDirectory;
using quorvel::test::TempDir;

namespace {

const std::string kBase = "ou=people,o=x";

void People(ScriptedDirectory& dir, int n) {
  // Added out of DN order, so that the table's order is the query's, not the arrival's.
  for (int i = n - 1; i >= 0; --i)
    dir.Add("uid=u" + std::to_string(i) + "," + kBase,
            {{"cn", {"User " + std::to_string(i)}}, {"mail", {"u" + std::to_string(i) + "@x"}}});
}

// A catalogue and a working store of their own.
struct Store {
  TempDir dir;
  Tdata d;
  Store() {
    const std::string catalogue = dir.Write("quorvel.db", "");
    quorvel::test::MakeCatalogue(catalogue);
    EXPECT_TRUE(InitDatabases(d, catalogue, dir.Write("dump.db", ""), quorvel::test::kEngine))
        << d.LastError();
  }
  // The export rows as the grid gets them, with the fields' declared types first.
  std::vector<std::string> Rows() {
    std::string error;
    EXPECT_TRUE(quorvel::OpenExportRows(d, &error)) << error;
    std::vector<std::string> rows(1);
    for (int c = 0; c < d.run.FieldCount(); ++c)
      rows[0] += d.run.FieldDefs()[c].name + ":" + d.run.FieldDefs()[c].declared + "|";
    for (int r = 0; r < d.run.RecordCount(); ++r) {
      std::string row;
      for (int c = 0; c < d.run.FieldCount(); ++c) row += std::string(d.run.CellText(r, c)) + "|";
      rows.push_back(row);
    }
    d.run.Close();
    return rows;
  }
  std::vector<std::string> Tables() {
    std::vector<std::string> names;
    d.temp.GetTableNames(names);
    return names;
  }
};

TProfileNodeData Profile(const std::string& att) {
  TProfileNodeData profile;
  profile.basedn = kBase;
  profile.scope = 2;
  profile.filter = "(objectClass=*)";
  profile.att = att;
  return profile;
}

std::unique_ptr<TLDAPSend> Connect(FakeServer& srv) {
  TServerNodeData server;
  server.server = "127.0.0.1";
  server.port = srv.Port();
  std::unique_ptr<TLDAPSend> session = ConnectServer(server);
  if (session) session->Timeout = 5000;
  return session;
}

// Runs the profile as the window and quorvel-report do: the entries go to a
// row stream and a counter, nothing else. The session's outcome stays for the
// caller. `stored_at_200` gets the staged rows once 200 entries arrived;
// `most_alive` the most entries that existed at once during the search,
// beyond those that existed before it.
struct StreamedRun {
  FakeServer srv;
  std::unique_ptr<TLDAPSend> session;
  bool delivered = false;
  int found = -1;  // entries of the result, counted
  long stored_at_200 = -1;
  long most_alive = 0;

  std::string error;  // Finish's, when it failed

  StreamedRun(ScriptedDirectory& dir, Store& store, const std::string& att, bool finish,
              bool stores = true) {
    dir.ServeOn(srv);
    EXPECT_TRUE(srv.Start());
    session = Connect(srv);
    if (!session) return;
    const long before = TLDAPResult::Alive();
    quorvel::TExportRowStream rows(store.d, att);
    quorvel::TSearchCounter counter;
    quorvel::TSearchTee tee(&counter, rows.Sink().get());
    session->OnSearchEntry = [&](int received) {
      most_alive = std::max(most_alive, TLDAPResult::Alive() - before);
      if (received != 200) return;
      // The run's own staged table, the only one in this store.
      TASQLite3Query q(&store.d.temp);
      q.SetSQL(
          "SELECT name FROM sqlite_master WHERE name LIKE 'export\\_staged\\_%' ESCAPE '\\' "
          "AND name NOT LIKE '%\\_values' ESCAPE '\\'");
      q.Open();
      if (q.RecordCount() != 1) return;
      const std::string table(q.CellText(0, 0));
      q.SetSQL("SELECT count(*) FROM \"" + table + "\"");
      q.Open();
      stored_at_200 = std::stol(std::string(q.CellText(0, 0)));
    };
    delivered = SearchProfileInto(session.get(), Profile(att), tee);
    found = counter.Count();
    // Nothing of the search outlives it, in the session or anywhere else.
    EXPECT_EQ(session->SearchResult().Count(), 0);
    EXPECT_EQ(TLDAPResult::Alive(), before);
    if (delivered && finish) {
      int written = -1;
      EXPECT_EQ(rows.Finish(nullptr, &written), stores) << rows.Error();
      if (stores) {
        EXPECT_EQ(written, found);
      }
      error = rows.Error();
    }
  }
  ~StreamedRun() {
    session.reset();
    srv.Finish();
  }
};

// The whole result of the same search as a list, as Browse and Properties
// keep it: what the rows must be made from.
struct ListedRun {
  FakeServer srv;
  std::unique_ptr<TLDAPSend> session;
  TLDAPResultList* list = nullptr;
  explicit ListedRun(ScriptedDirectory& dir, const std::string& att) {
    dir.ServeOn(srv);
    EXPECT_TRUE(srv.Start());
    session = Connect(srv);
    if (session) list = SearchProfile(session.get(), Profile(att));
  }
  ~ListedRun() {
    session.reset();
    srv.Finish();
  }
};

}  // namespace

TEST(ExportRowStream, TheStoredTableIsTheOneMadeFromTheFinalResult) {
  std::vector<std::string> members = Members(3200);
  struct Case {
    const char* what;
    int people, sizeLimit, refuse, maxValues;
    size_t rows;
  } cases[] = {
      {"a plain search", 600, 0, 0, 0, 600},
      {"read again in pages after the cap", 2500, 1000, 0, 0, 2500},
      {"paging refused: the capped result stands", 1200, 1000, 12, 0, 1000},
      {"values in ranges wait for the rest", 300, 0, 0, 1500, 302},
      {"no entry at all", 0, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedDirectory dir;
    dir.SizeLimit = c.sizeLimit;
    dir.RefusePagingWith = c.refuse;
    dir.MaxValues = c.maxValues;
    People(dir, c.people);
    if (c.maxValues) {
      dir.Add("cn=big," + kBase, {{"cn", {"big"}}, {"member", members}});
      dir.Add("cn=exact," + kBase, {{"member", Members(1500)}, {"cn", {"exact"}}});
    }
    const std::string att = c.maxValues ? "cn;member;mail" : "cn;mail;sn";
    Store streamed;
    StreamedRun run(dir, streamed, att, true);
    ASSERT_TRUE(run.delivered);
    EXPECT_EQ(run.found, static_cast<int>(c.rows));
    // Rows went in while the entries arrived, not after, and each entry went
    // once its row was stored: only the two waiting for their ranged values
    // stayed, beside the one arriving.
    if (c.people > 200) {
      EXPECT_EQ(run.stored_at_200, 200);
    }
    EXPECT_LE(run.most_alive, c.maxValues ? 3 : 1);

    ListedRun listed(dir, att);
    ASSERT_NE(listed.list, nullptr);
    Store filled;
    ASSERT_TRUE(quorvel::FillExportTable(filled.d, *listed.list, att));
    const std::vector<std::string> expected = filled.Rows();
    ASSERT_EQ(expected.size(), c.rows + 1);
    EXPECT_EQ(streamed.Rows(), expected);
    EXPECT_EQ(streamed.Tables(), (std::vector<std::string>{"export", "export_values"}));
  }
}

TEST(ExportRowStream, AFailedRunLeavesTheLastRunsRows) {
  Store store;
  std::vector<std::string> last;
  {
    ScriptedDirectory dir;
    People(dir, 50);
    StreamedRun run(dir, store, "cn;mail", true);
    ASSERT_TRUE(run.delivered);
    last = store.Rows();
    ASSERT_EQ(last.size(), 51u);
  }
  // What a killed run left behind, then a run whose second page breaks.
  store.d.temp.ExecDirect(
      "CREATE TABLE export_staged (junk); INSERT INTO export_staged VALUES (1)");
  {
    ScriptedDirectory dir;
    dir.SizeLimit = 1000;
    dir.FailPage = 1;
    dir.FailPageWith = 51;
    People(dir, 2500);
    StreamedRun run(dir, store, "cn", true);
    EXPECT_FALSE(run.delivered);
    EXPECT_EQ(run.stored_at_200, 200);
  }
  EXPECT_EQ(store.Rows(), last);
  EXPECT_EQ(store.Tables(), (std::vector<std::string>{"export", "export_values"}));
  // A result that is never finished (no entries for the window) changes nothing either.
  {
    ScriptedDirectory dir;
    People(dir, 20);
    StreamedRun run(dir, store, "cn;sn", false);
    ASSERT_TRUE(run.delivered);
  }
  EXPECT_EQ(store.Rows(), last);
  EXPECT_EQ(store.Tables(), (std::vector<std::string>{"export", "export_values"}));
  // Rows of the next run replace them; a row still goes in after all this.
  {
    ScriptedDirectory dir;
    People(dir, 7);
    StreamedRun run(dir, store, "mail", true);
    ASSERT_TRUE(run.delivered);
  }
  const std::vector<std::string> now = store.Rows();
  ASSERT_EQ(now.size(), 8u);
  EXPECT_EQ(now[0], "oid:VARCHAR(1024)|mail:string|");
  EXPECT_EQ(now[1], "uid=u0," + kBase + "|u0@x|");
}

// A working store that runs out of room while the rows go in fails the run:
// Finish says which store and why, and `export` keeps the last run's rows.
TEST(ExportRowStream, ARowThatCannotBeStoredFailsTheRun) {
  Store store;
  std::vector<std::string> last;
  {
    ScriptedDirectory dir;
    People(dir, 30);
    StreamedRun run(dir, store, "cn;mail", true);
    ASSERT_TRUE(run.delivered);
    last = store.Rows();
  }
  TASQLite3Query pages(&store.d.temp);
  pages.SetSQL("PRAGMA page_count");
  pages.Open();
  const int count = std::stoi(std::string(pages.CellText(0, 0)));
  pages.Close();
  const std::string full = "The rows could not be stored in the working store " +
                           store.d.temp.FullPath() + ": database or disk is full";
  // Full while the entries arrive...
  store.d.temp.ExecDirect("PRAGMA max_page_count = " + std::to_string(count + 6));
  {
    ScriptedDirectory dir;
    People(dir, 2500);
    StreamedRun run(dir, store, "cn;mail", true, false);
    ASSERT_TRUE(run.delivered);
    EXPECT_EQ(run.error.rfind(full, 0), 0u) << run.error;
    // ...as when the rows are stored from a whole result.
    ListedRun listed(dir, "cn;mail");
    ASSERT_NE(listed.list, nullptr);
    int written = -1;
    std::string error;
    EXPECT_FALSE(
        quorvel::FillExportTable(store.d, *listed.list, "cn", nullptr, &written, false, &error));
    EXPECT_EQ(error.rfind(full, 0), 0u) << error;
  }
  store.d.temp.ExecDirect("PRAGMA max_page_count = 1000000");
  EXPECT_EQ(store.Rows(), last);
  EXPECT_EQ(store.Tables(), (std::vector<std::string>{"export", "export_values"}));
}
