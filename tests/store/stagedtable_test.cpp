// Staged tables on a working store shared by several programs: each run's
// table is its own, only tables of ended processes are cleaned up, a busy
// store is waited for, and a row that cannot be stored fails the staging
// without touching `export`.
#include "store/stagedtable.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "sqlstore/dataset.h"
#include "sqlstore/rowquery.h"
#include "sqlstore/testutil.h"
#include "store/data.h"

using quorvel::TStagedExportTable;
using quorvel::test::kEngine;
using quorvel::test::TempDir;

namespace {

class StagedTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    working = dir.Write("dump.db", "");
    Open(db);
    db.ExecDirect("PRAGMA journal_mode=WAL");
  }
  void Open(TASQLite3DB& c) {
    c.SetDriverDLL(kEngine);
    c.SetDatabase(working);
    c.BusyTimeout = kWorkingStoreBusyMs;
    c.Open();
  }
  std::vector<std::string> Tables(TASQLite3DB& c) {
    std::vector<std::string> names;
    c.GetTableNames(names);
    return names;
  }
  // The rows of a statement, cells joined by "|".
  std::vector<std::string> Rows(TASQLite3DB& c, const std::string& sql) {
    TASQLite3Query q(&c);
    q.RawSQL = true;
    q.SetSQL(sql);
    q.Open();
    std::vector<std::string> rows;
    for (int r = 0; r < q.RecordCount(); ++r) {
      std::string row;
      for (int f = 0; f < q.FieldCount(); ++f) row += std::string(q.CellText(r, f)) + "|";
      rows.push_back(row);
    }
    return rows;
  }
  static bool Publish(TASQLite3DB& c, const std::vector<std::string>& oids,
                      TStagedExportTable::TPublish how) {
    TStagedExportTable t(c);
    if (!t.Create("oid;cn")) return false;
    for (const std::string& oid : oids)
      if (!t.Append({oid, "x"})) return false;
    return t.Publish(how);
  }

  TempDir dir;
  std::string working;
  TASQLite3DB db;
};

// A process that stages rows and waits, as a run waiting on its server does.
struct Stager {
  pid_t pid = -1;
  int go[2] = {-1, -1}, ready[2] = {-1, -1};
  Stager(const std::string& working, const std::string& oid) {
    EXPECT_EQ(pipe(go), 0);
    EXPECT_EQ(pipe(ready), 0);
    pid = fork();
    if (pid != 0) {
      close(go[0]);
      close(ready[1]);
      return;
    }
    close(go[1]);
    close(ready[0]);
    TASQLite3DB c;
    c.SetDriverDLL(kEngine);
    c.SetDatabase(working);
    c.BusyTimeout = kWorkingStoreBusyMs;
    c.Open();
    TStagedExportTable t(c);
    const bool staged = t.Create("oid;cn") && t.Append({oid, "1"}) && t.Flush();
    if (write(ready[1], staged ? "r" : "f", 1) != 1) _exit(3);
    char c1 = 0;
    if (read(go[0], &c1, 1) != 1) _exit(4);
    // Told to go on: more rows, then they become `export`.
    const bool ok = t.Append({oid + "-2", "2"}) && t.Publish(TStagedExportTable::psMove);
    _exit(ok ? 0 : 5);
  }
  bool Ready() {
    char c = 0;
    return read(ready[0], &c, 1) == 1 && c == 'r';
  }
  int Finish(bool kill_it) {
    if (kill_it)
      kill(pid, SIGKILL);
    else
      EXPECT_EQ(write(go[1], "g", 1), 1);
    int status = 0;
    waitpid(pid, &status, 0);
    close(go[1]);
    close(ready[0]);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  }
};

TEST_F(StagedTableTest, OnlyTheTablesOfEndedProcessesAreCleanedUp) {
  // The children open the store themselves; nothing of ours is open in them.
  db.Close();
  Stager live(working, "cn=live"), killed(working, "cn=killed");
  Open(db);
  ASSERT_TRUE(live.Ready());
  ASSERT_TRUE(killed.Ready());
  const std::vector<std::string> staged = Tables(db);
  ASSERT_EQ(staged.size(), 4u);
  EXPECT_EQ(killed.Finish(true), -SIGKILL);
  // An earlier version's fixed name, an earlier version's name by process
  // id (which proves nothing about its owner), and a name not ours at all.
  db.ExecDirect(
      "CREATE TABLE export_staged (x); CREATE TABLE export_staged_1_1_1 (x); "
      "CREATE TABLE export_staged_junk (x)");
  // Each run's staged table has its values beside it.
  ASSERT_EQ(Tables(db).size(), 7u);

  TStagedExportTable mine(db);
  ASSERT_TRUE(mine.Create("oid;cn")) << mine.Error();
  EXPECT_EQ(mine.Name().rfind("export_staged_k", 0), 0u) << mine.Name();
  const std::vector<std::string> after = Tables(db);
  // Exactly one of the two runs' tables went, with its values: the killed run's.
  std::vector<std::string> expected{"export_staged_1_1_1", "export_staged_junk", mine.Name(),
                                    mine.Name() + "_values"};
  for (const std::string& t : staged)
    if (std::find(after.begin(), after.end(), t) != after.end()) expected.push_back(t);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(after, expected);
  EXPECT_EQ(after.size(), 6u);

  // The live run goes on undisturbed and publishes exactly its own rows.
  EXPECT_EQ(live.Finish(false), 0);
  EXPECT_EQ(Rows(db, "SELECT oid, cn FROM export ORDER BY oid"),
            (std::vector<std::string>{"cn=live|1|", "cn=live-2|2|"}));
}

// The second program, started in a process-ID namespace of its own: its
// /proc holds none of our processes, nor ours any of its.
struct Holder {
  pid_t pid = -1;
  FILE* out = nullptr;
  int in = -1;
  Holder(const std::string& working, const char* mode) {
    int toChild[2], fromChild[2];
    EXPECT_EQ(pipe(toChild), 0);
    EXPECT_EQ(pipe(fromChild), 0);
    pid = fork();
    if (pid == 0) {
      dup2(toChild[0], 0);
      dup2(fromChild[1], 1);
      const std::string holder = QUORVEL_BINARY_DIR "/tests/staged_holder";
      execlp("unshare", "unshare", "--pid", "--fork", "--mount-proc", holder.c_str(), kEngine,
             working.c_str(), mode, static_cast<char*>(nullptr));
      _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    in = toChild[1];
    out = fdopen(fromChild[0], "r");
  }
  std::string Line() {
    char buf[256];
    if (!fgets(buf, sizeof buf, out)) return std::string();
    std::string line(buf);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    return line;
  }
  int Finish(const std::string& say) {
    if (!say.empty()) {
      EXPECT_EQ(write(in, (say + "\n").data(), say.size() + 1),
                static_cast<ssize_t>(say.size() + 1));
    }
    close(in);
    int status = 0;
    waitpid(pid, &status, 0);
    fclose(out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

TEST_F(StagedTableTest, RunsInOtherProcessIdNamespacesNeverDropEachOthersTables) {
  if (system("unshare --pid --fork --mount-proc true >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "no process-ID namespaces here (unshare needs root)";
  // Ours lives; a killed run's does not.
  TStagedExportTable mine(db);
  ASSERT_TRUE(mine.Create("oid;cn") && mine.Append({"cn=mine", "1"}) && mine.Flush());
  Stager killed(working, "cn=killed");
  ASSERT_TRUE(killed.Ready());
  EXPECT_EQ(killed.Finish(true), -SIGKILL);
  // Each run's staged table with its values beside it.
  ASSERT_EQ(Tables(db).size(), 4u);

  // Cleaning up from the other namespace keeps exactly ours.
  {
    Holder clean(working, "clean");
    std::vector<std::string> seen;
    for (std::string t = clean.Line(); !t.empty(); t = clean.Line()) seen.push_back(t);
    EXPECT_EQ(clean.Finish(""), 0);
    EXPECT_EQ(seen, (std::vector<std::string>{mine.Name(), mine.Name() + "_values"}));
  }
  // A run there is kept by ours while it lives, and cleaned up once it has
  // ended without a word.
  Holder held(working, "hold");
  const std::string theirs = held.Line();
  ASSERT_EQ(theirs.rfind("export_staged_k", 0), 0u) << theirs;
  TStagedExportTable next(db);
  ASSERT_TRUE(next.Create("oid;cn")) << next.Error();
  std::vector<std::string> tables = Tables(db);
  EXPECT_NE(std::find(tables.begin(), tables.end(), theirs), tables.end());
  EXPECT_NE(std::find(tables.begin(), tables.end(), mine.Name()), tables.end());
  EXPECT_EQ(Rows(db, "SELECT oid FROM \"" + theirs + "\""), std::vector<std::string>{"cn=held|"});
  EXPECT_EQ(held.Finish("vanish"), 0);
  ASSERT_TRUE(next.Create("oid;cn")) << next.Error();
  tables = Tables(db);
  EXPECT_EQ(std::find(tables.begin(), tables.end(), theirs), tables.end());
  EXPECT_EQ(tables.size(), 4u) << ::testing::PrintToString(tables);
}

TEST_F(StagedTableTest, EachRunPublishesItsOwnRowsAndACopyKeepsThem) {
  TASQLite3DB other;
  Open(other);
  TStagedExportTable a(db), b(other);
  ASSERT_TRUE(a.Create("oid;cn"));
  ASSERT_TRUE(b.Create("oid;cn"));
  EXPECT_NE(a.Name(), b.Name());
  // Interleaved as two windows' entries arrive; b starts over once.
  for (int i = 0; i < 250; ++i) {
    ASSERT_TRUE(a.Append({"cn=a" + std::to_string(1000 + i), "a"}));
    ASSERT_TRUE(b.Append({"cn=b" + std::to_string(i), "b"}));
    if (i == 120) {
      ASSERT_TRUE(b.Clear());
    }
  }
  // Between batches nothing holds the store: a third program writes at once.
  TASQLite3DB third;
  third.SetDriverDLL(kEngine);
  third.SetDatabase(working);
  third.BusyTimeout = 0;
  third.Open();
  third.ExecDirect("CREATE TABLE property (Icon,Name,Value,Type,Size)");

  ASSERT_TRUE(a.Publish(TStagedExportTable::psCopy)) << a.Error();
  EXPECT_EQ(a.Rows(), 250);
  ASSERT_TRUE(b.Publish(TStagedExportTable::psMove)) << b.Error();
  EXPECT_EQ(b.Rows(), 129);
  EXPECT_EQ(b.Name(), "");
  // `export` is b's, whole; a still reads its own 250 rows.
  EXPECT_EQ(Rows(db, "SELECT count(*), min(oid), max(oid) FROM export"),
            (std::vector<std::string>{"129|cn=b121|cn=b249|"}));
  EXPECT_EQ(Rows(db, "SELECT count(*), min(oid) FROM \"" + a.Name() + "\""),
            (std::vector<std::string>{"250|cn=a1000|"}));
  // Published again, as a copy with the layout of `export`.
  ASSERT_TRUE(a.Publish(TStagedExportTable::psCopy)) << a.Error();
  EXPECT_EQ(Rows(db, "SELECT sql FROM sqlite_master WHERE name = 'export'"),
            (std::vector<std::string>{"CREATE TABLE export (\"oid\" VARCHAR(1024),\"cn\")|"}));
  EXPECT_EQ(Rows(db, "SELECT count(*) FROM export"), (std::vector<std::string>{"250|"}));
  a.Discard();
  EXPECT_EQ(Tables(db), (std::vector<std::string>{"export", "export_values", "property"}));
}

TEST_F(StagedTableTest, ARowsTableReadInPlaceAndReplacedFailsEveryReadUntilOpenedAgain) {
  // Two writers on one store; this connection's dataset reads `export` in
  // place, as the window's grid does.
  TASQLite3DB other;
  Open(other);
  std::vector<std::string> mine, theirs, third;
  for (int i = 0; i < 3000; ++i) {
    mine.push_back("cn=m" + std::to_string(100000 + i));
    theirs.push_back("cn=t" + std::to_string(100000 + i));
    third.push_back("cn=x" + std::to_string(100000 + i));
  }
  ASSERT_TRUE(Publish(db, mine, TStagedExportTable::psCopy));
  TASQLite3Query q(&db);
  q.SetInPlaceSQL("export", "oid");
  q.Open();
  ASSERT_TRUE(q.ReadsInPlace());
  EXPECT_EQ(q.CellText(0, 0), "cn=m100000");
  // The other writer replaces `export` by a table of the same layout in one
  // transaction, twice: the second time the new table may well sit where
  // the one read was.
  ASSERT_TRUE(Publish(other, theirs, TStagedExportTable::psCopy));
  EXPECT_EQ(q.CellText(2999, 0), "");
  const std::string error = q.ReadError();
  EXPECT_NE(error.find("export was replaced"), std::string::npos) << error;
  ASSERT_TRUE(Publish(other, third, TStagedExportTable::psCopy));
  for (int row : {0, 1, 2999, 1500, 0}) {
    EXPECT_EQ(q.CellText(row, 0), "") << row;
    EXPECT_EQ(q.ReadError(), error);
  }
  // Opened again, the dataset reads what `export` holds now.
  q.Close();
  q.Open();
  EXPECT_EQ(q.ReadError(), "");
  EXPECT_EQ(q.CellText(2999, 0), "cn=x102999");
  EXPECT_EQ(q.CellText(0, 0), "cn=x100000");
}

TEST_F(StagedTableTest, AKeptRunIsPublishedWithoutACopyAndSetAsideForItByLaterPublishes) {
  TASQLite3DB other;
  Open(other);
  quorvel::TEntryValues v;
  v.DN = "cn=k";
  TStagedExportTable kept(db);
  ASSERT_TRUE(kept.Create("oid;cn"));
  const std::string own = kept.Name();
  for (int i = 0; i < 300; ++i)
    ASSERT_TRUE(kept.Append({"cn=k" + std::to_string(1000 + i), std::to_string(i)}, v));
  auto root = [&](const std::string& table) {
    return Rows(db, "SELECT rootpage FROM sqlite_master WHERE name = '" + table + "'");
  };
  const std::vector<std::string> rows = root(own), values = root(own + "_values");
  ASSERT_TRUE(kept.Publish(TStagedExportTable::psKeep)) << kept.Error();
  // The very table (and its values) became `export`: nothing was written again.
  EXPECT_EQ(root("export"), rows);
  EXPECT_EQ(root("export_values"), values);
  EXPECT_EQ(kept.Name(), own);
  EXPECT_EQ(quorvel::RunRowsTable(db, own), "export");
  EXPECT_FALSE(kept.Append({"cn=late", "x"}));

  // The window's grid reads it in place, and sorted the other way.
  TASQLite3Query plain(&db), sorted(&db);
  plain.SetInPlaceSQL("export", "oid");
  plain.Open();
  quorvel::TRowQuery query("export");
  query.Order = {{"oid", true}};
  ASSERT_FALSE(query.Resolve(db));
  sorted.SetRowQuery(query);
  sorted.Open();
  ASSERT_TRUE(plain.ReadsInPlace() && sorted.ReadsInPlace());
  EXPECT_EQ(plain.CellText(0, 0), "cn=k1000");
  EXPECT_EQ(sorted.CellText(0, 0), "cn=k1299");

  // Another program publishes: the kept rows go back under their own name,
  // values and all, and every reader goes on with them.
  ASSERT_TRUE(Publish(other, {"cn=o1", "cn=o2"}, TStagedExportTable::psMove));
  EXPECT_EQ(Rows(db, "SELECT count(*), min(oid) FROM export"),
            (std::vector<std::string>{"2|cn=o1|"}));
  EXPECT_EQ(quorvel::RunRowsTable(db, own), own);
  EXPECT_EQ(root(own), rows);
  EXPECT_EQ(root(own + "_values"), values);
  EXPECT_EQ(plain.CellText(299, 0), "cn=k1299");
  EXPECT_EQ(plain.CellText(150, 1), "150");
  EXPECT_EQ(sorted.CellText(299, 0), "cn=k1000");
  plain.BeginRowWalk();
  for (int r = 0; r < 300; ++r)
    ASSERT_EQ(plain.CellText(r, 0), "cn=k" + std::to_string(1000 + r)) << r;
  plain.EndRowWalk();
  EXPECT_EQ(plain.ReadError(), "");
  EXPECT_EQ(sorted.ReadError(), "");
  plain.Close();
  sorted.Close();

  // Discarded once set aside, the kept rows go; `export` stays the other's.
  kept.Discard();
  EXPECT_EQ(Tables(db), (std::vector<std::string>{"export", "export_values"}));
  // Discarded while still `export`, they stay: the last run's rows, which
  // no later cleanup takes for abandoned.
  ASSERT_TRUE(kept.Create("oid;cn"));
  ASSERT_TRUE(kept.Append({"cn=last", "x"}, v));
  ASSERT_TRUE(kept.Publish(TStagedExportTable::psKeep));
  kept.Discard();
  TStagedExportTable next(other);
  ASSERT_TRUE(next.Create("oid;cn"));
  EXPECT_EQ(Rows(db, "SELECT oid FROM export"), (std::vector<std::string>{"cn=last|"}));
  EXPECT_EQ(Rows(db, "SELECT count(*) FROM export_values"), (std::vector<std::string>{"1|"}));
}

TEST_F(StagedTableTest, ABusyStoreIsWaitedFor) {
  TASQLite3DB other;
  Open(other);
  TStagedExportTable t(db);
  ASSERT_TRUE(t.Create("oid;cn"));
  // Another program's write transaction lasts longer than the engine's own
  // default wait; the batch waits for it and goes in.
  other.StartTransaction("IMMEDIATE");
  other.ExecDirect("CREATE TABLE property (Icon,Name,Value,Type,Size)");
  std::thread ends([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    other.Commit();
  });
  for (size_t i = 0; i < TStagedExportTable::kBatchRows; ++i)
    EXPECT_TRUE(t.Append({"cn=" + std::to_string(i)})) << t.Error();
  ends.join();
  EXPECT_TRUE(t.Publish(TStagedExportTable::psMove)) << t.Error();
  EXPECT_EQ(Rows(db, "SELECT count(*) FROM export"),
            (std::vector<std::string>{std::to_string(TStagedExportTable::kBatchRows) + "|"}));
}

// Large values are written before a batch has its count of rows: what waits
// in memory stays a few megabytes whatever the entries hold.
TEST_F(StagedTableTest, LargeValuesAreWrittenBeforeTheBatchIsFull) {
  TStagedExportTable t(db);
  ASSERT_TRUE(t.Create("oid;jpegPhoto"));
  const std::string photo(TStagedExportTable::kBatchBytes / 5, '\xff');
  quorvel::TEntryValues v;
  v.Columns.resize(2);
  v.Columns[1] = {"jpegPhoto", {photo}};
  for (int i = 0; i < 2; ++i) ASSERT_TRUE(t.Append({"cn=" + std::to_string(i), photo}, v));
  // Two rows hold four fifths of the bytes (row and exact value): nothing
  // written yet; the third goes past them and all three are written.
  EXPECT_EQ(Rows(db, "SELECT count(*) FROM \"" + t.Name() + "\""), std::vector<std::string>{"0|"});
  ASSERT_TRUE(t.Append({"cn=2", photo}, v));
  EXPECT_EQ(Rows(db, "SELECT count(*) FROM \"" + t.Name() + "\""), std::vector<std::string>{"3|"});
  ASSERT_TRUE(t.Append({"cn=3", photo}, v));
  ASSERT_TRUE(t.Publish(TStagedExportTable::psMove)) << t.Error();
  EXPECT_EQ(Rows(db, "SELECT count(*), sum(length(jpegPhoto)) FROM export"),
            std::vector<std::string>{"4|" + std::to_string(4 * photo.size()) + "|"});
}

// A private store's larger batches: rows wait until the batch is full, and
// large values still go before it is.
TEST_F(StagedTableTest, ABatchOfItsOwnSizeIsWrittenWhenFullOrLarge) {
  TStagedExportTable t(db);
  ASSERT_TRUE(t.Create("oid;cn"));
  t.SetBatchRows(250);
  auto stored = [&] { return Rows(db, "SELECT count(*) FROM \"" + t.Name() + "\"")[0]; };
  for (int i = 0; i < 249; ++i) ASSERT_TRUE(t.Append({"cn=" + std::to_string(i), "v"}));
  EXPECT_EQ(stored(), "0|");
  ASSERT_TRUE(t.Append({"cn=249", "v"}));
  EXPECT_EQ(stored(), "250|");
  const std::string large(TStagedExportTable::kBatchBytes * 2 / 5, 'x');
  for (int i = 0; i < 2; ++i) ASSERT_TRUE(t.Append({"cn=l" + std::to_string(i), large}));
  EXPECT_EQ(stored(), "250|");
  ASSERT_TRUE(t.Append({"cn=l2", large}));
  EXPECT_EQ(stored(), "253|");
  ASSERT_TRUE(t.Publish(TStagedExportTable::psMove)) << t.Error();
  EXPECT_EQ(Rows(db, "SELECT count(*) FROM export"), std::vector<std::string>{"253|"});
}

TEST_F(StagedTableTest, ARowThatCannotBeStoredFailsTheStaging) {
  ASSERT_TRUE(Publish(db, {"cn=last1", "cn=last2"}, TStagedExportTable::psMove));
  TStagedExportTable t(db);
  ASSERT_TRUE(t.Create("oid;cn"));
  // A size cap on the file stands in for a full disk.
  const std::string pages = Rows(db, "PRAGMA page_count")[0];
  db.ExecDirect("PRAGMA max_page_count = " +
                std::to_string(std::stoi(pages.substr(0, pages.size() - 1)) + 4));
  bool failed = false;
  for (int i = 0; i < 2000 && !failed; ++i)
    failed = !t.Append({"cn=" + std::to_string(i), std::string(300, 'v')});
  ASSERT_TRUE(failed);
  EXPECT_TRUE(t.Failed());
  EXPECT_EQ(
      t.Error().rfind("The rows could not be stored in the working store " + working + ": ", 0), 0u)
      << t.Error();
  EXPECT_NE(t.Error().find("full"), std::string::npos) << t.Error();
  // Nothing more goes in, nothing is published; the store is usable.
  const std::string reason = t.Error();
  EXPECT_FALSE(t.Append({"cn=late"}));
  EXPECT_FALSE(t.Flush());
  EXPECT_FALSE(t.Publish(TStagedExportTable::psMove));
  EXPECT_EQ(t.Error(), reason);
  EXPECT_FALSE(db.InTransaction());
  EXPECT_EQ(Rows(db, "SELECT oid FROM export ORDER BY oid"),
            (std::vector<std::string>{"cn=last1|", "cn=last2|"}));
  t.Discard();
  EXPECT_EQ(Tables(db), (std::vector<std::string>{"export", "export_values"}));
}

}  // namespace

// The values kept beside the rows go in the rows' transactions: a publish
// gives `export` and `export_values` of one run (a copy keeping every rowid),
// a restart or a failed staging keeps none of the staged values, and the
// published values of the last run stay until the next run publishes.
TEST_F(StagedTableTest, ValuesArePublishedWithTheirRowsOrNotAtAll) {
  auto values = [](const std::string& dn, std::vector<std::string> cn) {
    quorvel::TEntryValues v;
    v.DN = dn;
    v.Columns.resize(2);
    v.Columns[1] = {"CN", std::move(cn)};
    return v;
  };
  // Every stored value of `export`'s rows, read back through the values'
  // own reader: "dn|column|position|name|hex of the value|".
  auto joined = [this] {
    std::vector<std::string> out;
    quorvel::TEntryValueReader reader(db, "export");
    quorvel::TEntryValues v;
    for (const std::string& row :
         Rows(db, "SELECT CAST(rowid AS TEXT) AS r, oid FROM export ORDER BY oid")) {
      reader.Read(std::stoll(row), 2, v);
      const std::string dn = row.substr(row.find('|') + 1, row.size() - row.find('|') - 2);
      auto hex = [](const std::string& bytes) {
        static const char* digits = "0123456789ABCDEF";
        std::string h;
        for (unsigned char c : bytes) h += {digits[c >> 4], digits[c & 15]};
        return h;
      };
      if (!v.DN.empty()) out.push_back(dn + "|0|0|dn|" + hex(v.DN) + "|");
      for (std::size_t p = 0; p < v.Columns[1].Values.size(); ++p)
        out.push_back(dn + "|1|" + std::to_string(p) + "|" + v.Columns[1].Name + "|" +
                      hex(v.Columns[1].Values[p]) + "|");
    }
    return out;
  };
  for (auto how : {TStagedExportTable::psMove, TStagedExportTable::psCopy}) {
    TStagedExportTable stage(db);
    ASSERT_TRUE(stage.Create("oid;cn"));
    ASSERT_TRUE(stage.Append({"cn=gone", "x"}, values("cn=gone", {"x"})));
    ASSERT_TRUE(stage.Flush());
    ASSERT_TRUE(stage.Clear());  // a search that starts over
    ASSERT_TRUE(stage.Append({"cn=b", "[a][b]"}, values("cn=b", {"a]", "[b"})));
    ASSERT_TRUE(stage.Append({"cn=a", " sp"}, values("cn=a", {std::string(" s\0p", 4)})));
    ASSERT_TRUE(stage.Publish(how));
    const std::vector<std::string> expected = {"cn=a|0|0|dn|636E3D61|", "cn=a|1|0|CN|20730070|",
                                               "cn=b|0|0|dn|636E3D62|", "cn=b|1|0|CN|615D|",
                                               "cn=b|1|1|CN|5B62|"};
    EXPECT_EQ(joined(), expected) << how;
  }
  {
    TStagedExportTable failing(db);
    ASSERT_TRUE(failing.Create("oid;cn"));
    ASSERT_TRUE(failing.Append({"cn=new", "n"}, values("cn=new", {"n"})));
    ASSERT_TRUE(failing.Flush());
    failing.Fail("the search did not give its entries");
    EXPECT_FALSE(failing.Publish(TStagedExportTable::psMove));
  }
  EXPECT_EQ(joined().size(), 5u);
  EXPECT_EQ(Rows(db, "SELECT name FROM sqlite_master WHERE name LIKE 'export_staged%'"),
            std::vector<std::string>{});
}
