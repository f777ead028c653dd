// A run's rows stored while the entries arrive: the table they end in must be
// the one FillExportTable makes from the final result, whatever the search
// went through (paging started over, refused, values in ranges), and a run
// that fails must leave the last run's rows alone. The directory is the
// scripted one that answers like a size-capped directory.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/scripted_directory.h"
#include "sqlstore/testutil.h"
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

// Runs the profile with a stream attached; the session's outcome stays for
// the caller. `stored_at_200` gets the staged rows once 200 entries arrived.
struct StreamedRun {
  FakeServer srv;
  std::unique_ptr<TLDAPSend> session;
  TLDAPResultList* list = nullptr;
  long stored_at_200 = -1;

  std::string error;  // Finish's, when it failed

  StreamedRun(ScriptedDirectory& dir, Store& store, const std::string& att, bool finish,
              bool stores = true) {
    dir.ServeOn(srv);
    EXPECT_TRUE(srv.Start());
    TServerNodeData server;
    server.server = "127.0.0.1";
    server.port = srv.Port();
    session = ConnectServer(server);
    if (!session) return;
    session->Timeout = 5000;
    TProfileNodeData profile;
    profile.basedn = kBase;
    profile.scope = 2;
    profile.filter = "(objectClass=*)";
    profile.att = att;
    quorvel::TExportRowStream rows(store.d, att);
    rows.Attach(*session);
    session->OnSearchEntry = [&](int received) {
      if (received != 200) return;
      // The run's own staged table, the only one in this store.
      TASQLite3Query q(&store.d.temp);
      q.SetSQL("SELECT name FROM sqlite_master WHERE name LIKE 'export\\_staged\\_%' ESCAPE '\\'");
      q.Open();
      if (q.RecordCount() != 1) return;
      const std::string table(q.CellText(0, 0));
      q.SetSQL("SELECT count(*) FROM \"" + table + "\"");
      q.Open();
      stored_at_200 = std::stol(std::string(q.CellText(0, 0)));
    };
    list = SearchProfile(session.get(), profile);
    if (list && finish) {
      EXPECT_EQ(rows.Finish(), stores) << rows.Error();
      error = rows.Error();
    }
  }
  ~StreamedRun() {
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
    ASSERT_NE(run.list, nullptr);
    // Rows went in while the entries arrived, not after.
    EXPECT_EQ(run.stored_at_200, 200);

    Store filled;
    ASSERT_TRUE(quorvel::FillExportTable(filled.d, *run.list, att));
    const std::vector<std::string> expected = filled.Rows();
    ASSERT_EQ(expected.size(), c.rows + 1);
    EXPECT_EQ(streamed.Rows(), expected);
    EXPECT_EQ(streamed.Tables(), (std::vector<std::string>{"export"}));
  }
}

TEST(ExportRowStream, AFailedRunLeavesTheLastRunsRows) {
  Store store;
  std::vector<std::string> last;
  {
    ScriptedDirectory dir;
    People(dir, 50);
    StreamedRun run(dir, store, "cn;mail", true);
    ASSERT_NE(run.list, nullptr);
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
    EXPECT_EQ(run.list, nullptr);
    EXPECT_EQ(run.stored_at_200, 200);
  }
  EXPECT_EQ(store.Rows(), last);
  EXPECT_EQ(store.Tables(), (std::vector<std::string>{"export"}));
  // A result that is never finished (no entries for the window) changes nothing either.
  {
    ScriptedDirectory dir;
    People(dir, 20);
    StreamedRun run(dir, store, "cn;sn", false);
    ASSERT_NE(run.list, nullptr);
  }
  EXPECT_EQ(store.Rows(), last);
  EXPECT_EQ(store.Tables(), (std::vector<std::string>{"export"}));
  // Rows of the next run replace them; a row still goes in after all this.
  {
    ScriptedDirectory dir;
    People(dir, 7);
    StreamedRun run(dir, store, "mail", true);
    ASSERT_NE(run.list, nullptr);
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
    ASSERT_NE(run.list, nullptr);
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
    ASSERT_NE(run.list, nullptr);
    EXPECT_EQ(run.error.rfind(full, 0), 0u) << run.error;
    // ...as when the rows are stored from a whole result.
    int written = -1;
    std::string error;
    EXPECT_FALSE(
        quorvel::FillExportTable(store.d, *run.list, "cn", nullptr, &written, false, &error));
    EXPECT_EQ(error.rfind(full, 0), 0u) << error;
  }
  store.d.temp.ExecDirect("PRAGMA max_page_count = 1000000");
  EXPECT_EQ(store.Rows(), last);
  EXPECT_EQ(store.Tables(), (std::vector<std::string>{"export"}));
}
