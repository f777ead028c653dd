// Rows read in place (SetInPlaceSQL) against the same statement read whole:
// the same fields and the same cells in the same order, however the rows are
// visited, and a clear failure instead of other rows when the table changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "sqlstore/database.h"
#include "sqlstore/dataset.h"
#include "sqlstore/testutil.h"

using quorvel::test::kEngine;
using quorvel::test::TempDir;

namespace {

class InPlaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db.SetDriverDLL(kEngine);
    db.SetDatabase(dir.File("dump.db"));
    db.Open();
  }

  // A results-shaped table of n rows inserted in a scrambled order, with
  // repeated keys, NULL and empty cells, long and non-ASCII values.
  void Fill(const std::string& table, int n, const std::string& columns) {
    db.ExecDirect("CREATE TABLE " + table + " (" + columns + ")");
    TASQLite3Query insert(&db);
    insert.SetSQL("INSERT INTO " + table + " VALUES (?,?,?)");
    db.StartTransaction();
    std::mt19937 random(7);
    for (int i = 0; i < n; ++i) {
      const int k = static_cast<int>(random() % static_cast<unsigned>(n));
      const std::string oid = "cn=u" + std::to_string(k % (n / 3 + 1)) + ",o=x";
      insert.SetParamValues({oid, i % 5 ? "Name \xC3\xA9 " + std::to_string(i) : "",
                             i % 97 ? std::to_string(i) : std::string(2000, 'v')});
      insert.Params()[2].isNull = i % 11 == 0;
      if (insert.Params()[2].isNull) insert.Params()[2].value.clear();
      insert.ExecSQL();
    }
    db.Commit();
  }

  // Every cell of `q`, visiting the rows in `order`, against the whole read.
  void ExpectSameRows(TASQLite3Query& q, const std::vector<int>& order, const char* how) {
    TASQLite3Query whole(&db);
    whole.SetSQL(q.SQL());
    whole.Open();
    ASSERT_EQ(q.RecordCount(), whole.RecordCount()) << how;
    ASSERT_EQ(q.FieldCount(), whole.FieldCount()) << how;
    for (int c = 0; c < q.FieldCount(); ++c) {
      EXPECT_EQ(q.FieldDef(c).name, whole.FieldDef(c).name) << how;
      EXPECT_EQ(q.FieldDef(c).type, whole.FieldDef(c).type) << how;
      EXPECT_EQ(q.FieldDef(c).size, whole.FieldDef(c).size) << how;
    }
    for (int r : order)
      for (int c = 0; c < q.FieldCount(); ++c)
        ASSERT_EQ(q.CellText(r, c), whole.CellText(r, c)) << how << " row " << r << " col " << c;
    EXPECT_EQ(q.ReadError(), "") << how;
  }

  TempDir dir;
  TASQLite3DB db;
};

}  // namespace

TEST_F(InPlaceTest, GivesTheWholeReadsRowsInAnyOrderOfVisit) {
  // More rows than several windows and several noted keys hold.
  const int n = 10000;
  Fill("export", n, "\"oid\" VARCHAR(1024),\"cn\" VARCHAR(1024),\"mail\"");
  // The rows as the results statement read them whole before any index.
  TASQLite3Query before(&db);
  before.SetSQL("SELECT * FROM export ORDER BY oid ASC");
  before.Open();
  TASQLite3Query q(&db);
  q.SetInPlaceSQL("export", "oid");
  q.Open();
  ASSERT_TRUE(q.ReadsInPlace());
  ASSERT_EQ(q.RecordCount(), n);
  auto indexes = [&] {
    TASQLite3Query count(&db);
    count.SetSQL("SELECT count(*) FROM sqlite_master WHERE type = 'index'");
    count.Open();
    return std::string(count.CellText(0, 0));
  };
  // An export's walk needs no index.
  q.BeginRowWalk();
  for (int r = 0; r < n; ++r)
    for (int c = 0; c < 3; ++c) ASSERT_EQ(q.CellText(r, c), before.CellText(r, c)) << r;
  q.EndRowWalk();
  EXPECT_EQ(indexes(), "0");
  // Again, with a grid's read of another row in between, which makes one.
  q.BeginRowWalk();
  for (int r = 0; r < n; ++r) {
    ASSERT_EQ(q.CellText(r, 0), before.CellText(r, 0)) << r;
    if (r == 5000) {
      EXPECT_EQ(q.CellText(100, 1), before.CellText(100, 1));
    }
  }
  q.EndRowWalk();
  EXPECT_EQ(indexes(), "1");
  EXPECT_EQ(q.ReadError(), "");

  std::vector<int> forward(n);
  for (int i = 0; i < n; ++i) forward[i] = i;
  std::vector<int> backward(forward.rbegin(), forward.rend());
  std::vector<int> jumps = forward;
  std::shuffle(jumps.begin(), jumps.end(), std::mt19937(3));
  jumps.resize(3000);
  ExpectSameRows(q, forward, "forward");
  ExpectSameRows(q, backward, "backward");
  ExpectSameRows(q, jumps, "jumps");

  // The cursor and the field access read the same rows.
  q.SetRecNo(n - 1);
  EXPECT_EQ(q.FieldByName("OID").AsString(), std::string(q.CellText(n - 2, 0)));
  EXPECT_TRUE(q.Locate("cn", std::string(q.CellText(5000, 1))));

  // Opening again uses the index made before; nothing is added.
  EXPECT_EQ(indexes(), "1");
  q.Close();
  q.Open();
  EXPECT_TRUE(q.ReadsInPlace());
  EXPECT_FALSE(q.CellText(n - 1, 0).empty());
  EXPECT_EQ(indexes(), "1");

  // A walk left half way lets the table go when it ends: it can be dropped.
  q.BeginRowWalk();
  EXPECT_EQ(q.CellText(0, 0), before.CellText(0, 0));
  q.EndRowWalk();
  EXPECT_NO_THROW(db.ExecDirect("DROP TABLE export"));
}

TEST_F(InPlaceTest, TablesThatCannotBeReadInPlaceAreReadWhole) {
  struct Case {
    const char* what;
    const char* setup;
    const char* table;
    const char* key;
    bool inPlace;
  } cases[] = {
      {"plain", "CREATE TABLE t (k, v); INSERT INTO t VALUES ('b','2'),('a','1'),('a','0')", "t",
       "k", true},
      {"integer keys", "CREATE TABLE t (k INTEGER, v); INSERT INTO t VALUES (3,'c'),(-1,'a')", "t",
       "k", true},
      {"a key that is NULL", "CREATE TABLE t (k, v); INSERT INTO t VALUES ('b','2'),(NULL,'n')",
       "t", "k", false},
      {"a floating-point key", "CREATE TABLE t (k, v); INSERT INTO t VALUES (1.5,'x'),('a','y')",
       "t", "k", false},
      // With an index on the key the keys are checked through it.
      {"a key that is NULL, indexed",
       "CREATE TABLE t (k, v); CREATE INDEX ti ON t (k); INSERT INTO t VALUES ('b','2'),(NULL,'n')",
       "t", "k", false},
      {"a floating-point key among others, indexed",
       "CREATE TABLE t (k, v); CREATE INDEX ti ON t (k); "
       "INSERT INTO t VALUES (7,'i'),(1e300,'x'),('a','y'),(X'01','z')",
       "t", "k", false},
      {"integer, text and blob keys, indexed",
       "CREATE TABLE t (k, v); CREATE INDEX ti ON t (k); "
       "INSERT INTO t VALUES (-3,'i'),('','e'),('a','y'),(X'01','z')",
       "t", "k", true},
      {"every rowid alias taken",
       "CREATE TABLE t (k, rowid, _rowid_, oid); INSERT INTO t VALUES ('b',1,2,3),('a',4,5,6)", "t",
       "k", false},
      {"a view",
       "CREATE TABLE u (k, v); INSERT INTO u VALUES ('b','2'); CREATE VIEW t AS "
       "SELECT * FROM u",
       "t", "k", false},
      {"no rowid", "CREATE TABLE t (k PRIMARY KEY, v) WITHOUT ROWID; INSERT INTO t VALUES ('b',1)",
       "t", "k", false},
      {"names to quote",
       "CREATE TABLE \"my \"\"t\"\"\" (\"a key\", v); INSERT INTO \"my \"\"t\"\"\" "
       "VALUES ('z','1'),('y','2')",
       "my \"t\"", "a key", true},
  };
  int file = 0;
  for (const Case& c : cases) {
    db.Close();
    db.SetDatabase(dir.File("case" + std::to_string(++file) + ".db"));
    db.Open();
    db.ExecDirect(c.setup);
    TASQLite3Query q(&db);
    q.SetInPlaceSQL(c.table, c.key);
    q.Open();
    EXPECT_EQ(q.ReadsInPlace(), c.inPlace) << c.what;
    std::vector<int> all(q.RecordCount());
    for (int i = 0; i < q.RecordCount(); ++i) all[i] = i;
    ExpectSameRows(q, all, c.what);
  }
}

TEST_F(InPlaceTest, ATableReplacedUnderTheReaderFailsInsteadOfShowingOtherRows) {
  Fill("export", 1000, "\"oid\" VARCHAR(1024),\"cn\" VARCHAR(1024),\"mail\"");
  TASQLite3Query q(&db);
  q.SetInPlaceSQL("export", "oid");
  q.Open();
  ASSERT_TRUE(q.ReadsInPlace());
  const std::string first(q.CellText(0, 0));
  EXPECT_FALSE(first.empty());
  // Another run's rows take the table's name (as a staged table is published).
  Fill("staged", 1000, "\"oid\" VARCHAR(1024),\"cn\" VARCHAR(1024),\"mail\"");
  db.ExecDirect("DROP TABLE export; ALTER TABLE staged RENAME TO export");
  EXPECT_EQ(q.CellText(999, 0), "");
  EXPECT_NE(q.ReadError().find("replaced"), std::string::npos) << q.ReadError();
  // From then on every read fails the same way, the window read before
  // included, however often it is asked.
  const std::string error = q.ReadError();
  for (int row : {0, 999, 500, 0}) {
    EXPECT_EQ(q.CellText(row, 0), "") << row;
    EXPECT_EQ(q.ReadError(), error);
  }
  // A new open reads the new rows, and has an index for them.
  q.Close();
  q.Open();
  EXPECT_TRUE(q.ReadsInPlace());
  EXPECT_EQ(q.ReadError(), "");
  EXPECT_EQ(q.RecordCount(), 1000);

  // Other schema changes leave the rows readable.
  db.ExecDirect("CREATE TABLE property (Icon,Name,Value,Type,Size)");
  EXPECT_FALSE(q.CellText(998, 0).empty());
  EXPECT_EQ(q.ReadError(), "");
}

TEST_F(InPlaceTest, ClosingTheConnectionClosesTheReader) {
  Fill("export", 600, "\"oid\" VARCHAR(1024),\"cn\" VARCHAR(1024),\"mail\"");
  TASQLite3Query q(&db);
  q.SetInPlaceSQL("export", "oid");
  q.Open();
  ASSERT_TRUE(q.ReadsInPlace());
  db.Close();
  EXPECT_FALSE(q.Active());
  EXPECT_EQ(q.RecordCount(), 0);
  // The engine closed the file for real: it opens again and reads the rows.
  db.Open();
  q.Open();
  EXPECT_EQ(q.RecordCount(), 600);
}
