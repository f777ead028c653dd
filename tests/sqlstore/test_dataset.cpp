#include <gtest/gtest.h>

#include "sqlstore/database.h"
#include "sqlstore/dataset.h"
#include "sqlstore/testutil.h"

using quorvel::test::kEngine;
using quorvel::test::TempDir;

namespace {

class DatasetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db.SetDriverDLL(kEngine);
    db.SetDatabase(dir.File("data.db"));
    db.Open();
  }
  std::string Raised(TASQLite3BaseQuery& q) {
    try {
      q.Open();
    } catch (const std::exception& e) {
      return e.what();
    }
    return "<nothing raised>";
  }
  TempDir dir;
  TASQLite3DB db;
};

}  // namespace

TEST(FieldInfo, MapsDeclaredTypes) {
  struct Case {
    const char* declared;
    TFieldType type;
    int size, precision;
  } cases[] = {
      {"VARCHAR(1024)", ftString, 1024, 0},  {"char(3)", ftString, 3, 0},
      {"nvarchar(20)", ftWideString, 40, 0}, {"numeric(10,2)", ftFloat, 10, 2},
      {"NUMERIC(8.123)", ftFloat, 8, 12},    {"numeric(7)", ftFloat, 7, 0},
      {"decimal(5,2)", ftString, 255, 0},    {"varchar(10", ftString, 256, 0},
      {"DateTime", ftDateTime, 24, 0},       {"INTEGER", ftInteger, 12, 0},
      {"logical", ftBoolean, 2, 0},          {"string", ftString, 255, 0},
      {"money", ftCurrency, 10, 0},          {"varchar", ftMemo, 4, 0},
      {"timestamp", ftTimeStamp, 12, 0},     {"whatever", ftString, 255, 0},
  };
  for (const Case& c : cases) {
    const TFieldTypeInfo info = GetFieldInfo(c.declared);
    EXPECT_EQ(info.type, c.type) << c.declared;
    EXPECT_EQ(info.size, c.size) << c.declared;
    EXPECT_EQ(info.precision, c.precision) << c.declared;
  }
}

TEST_F(DatasetTest, ExportShapedResultKeepsWholeValuesAndDeclaredSizes) {
  db.ExecDirect("CREATE TABLE export (\"oid\" VARCHAR(1024),\"cn\" VARCHAR(1024),\"mail\")");
  const std::string longValue(3000, 'v');
  const std::string hard = "say \"hi\" – ÄÖÜ ß 日本";
  db.ExecDirect("insert into export values ('b', '" + longValue + "', '" + longValue + "')");
  db.ExecDirect("insert into export values ('a', '" + hard + "', NULL)");
  TASQLite3Query q(&db);
  q.SetSQL("SELECT * FROM export ORDER BY oid ASC");
  q.Open();
  ASSERT_EQ(q.FieldCount(), 3);
  EXPECT_EQ(q.FieldDef(0).size, 1024);
  EXPECT_EQ(q.FieldDef(1).type, ftString);
  EXPECT_EQ(q.FieldDef(2).size, 255);
  ASSERT_EQ(q.RecordCount(), 2);
  EXPECT_EQ(q.RecNo(), 1);
  EXPECT_EQ(q.FieldByName("CN").AsString(), hard);
  EXPECT_EQ(q.FieldByName("mail").AsString(), "");  // NULL reads as empty
  q.Next();
  EXPECT_FALSE(q.Eof());
  EXPECT_EQ(q.FieldByName("cn").AsString(), longValue);
  EXPECT_EQ(q.CellText(1, 2), longValue);
  q.Next();
  EXPECT_TRUE(q.Eof());
  q.Prior();
  q.Prior();
  EXPECT_EQ(q.RecNo(), 1);
  EXPECT_FALSE(q.Locate("oid", "zzz"));
  EXPECT_TRUE(q.Locate("oid;mail", "b;" + longValue));
  EXPECT_EQ(q.RecNo(), 2);
}

TEST_F(DatasetTest, NamesTypesAndRowIds) {
  db.ExecDirect(
      "create table t (id INTEGER, cn varchar(10), flag boolean, price numeric(8,2));"
      "insert into t values (7, 'x', 'true', '1.5');"
      "insert into t values ('12abc', 'y', 0, 'cheap');");
  TASQLite3Query q(&db);
  q.SetSQL("select cn, cn, cn, id, flag, price from t order by cn");
  q.Open();
  ASSERT_EQ(q.FieldCount(), 6);
  EXPECT_EQ(q.FieldDef(1).name, "cn_1");
  EXPECT_EQ(q.FieldDef(2).name, "cn_2");
  EXPECT_EQ(q.FieldByName("id").AsInteger(), 7);
  EXPECT_EQ(q.FieldByName("flag").AsString(), "True");
  q.Next();
  EXPECT_EQ(q.FieldByName("id").AsString(), "0");  // not a number reads as 0
  EXPECT_EQ(q.FieldByName("flag").AsString(), "False");
  EXPECT_EQ(q.FieldByName("price").AsFloat(), 0.0);

  // A table dataset hides the rowid but keeps it per row.
  db.ExecDirect("delete from t where cn = 'x'; insert into t values (1, 'z', 1, 2)");
  TASQLite3Table table(&db);
  EXPECT_EQ(Raised(table), "no table specified");
  table.TableName = "t";
  table.Open();
  EXPECT_EQ(table.FieldCount(), 4);
  EXPECT_EQ(table.FieldIndex("rowid"), -1);
  ASSERT_EQ(table.RecordCount(), 2);
  EXPECT_EQ(table.RowId(0), 2);
  EXPECT_EQ(table.RowId(1), 3);

  // Edits address rows by their rowid, never by a field.
  table.Last();
  table.UpdateRecord({"5", "it's", "1", "3.5"});
  table.First();
  table.DeleteRecord();
  table.AppendRecord({"9", "new"});
  TASQLite3Query check(&db);
  check.SetSQL("select rowid, id, cn from t order by rowid");
  check.Open();
  ASSERT_EQ(check.RecordCount(), 2);
  EXPECT_EQ(check.RowId(0), 3);
  EXPECT_EQ(check.CellText(0, 1), "it's");
  EXPECT_EQ(table.CellText(0, 1), "it's");
  EXPECT_EQ(table.CellText(1, 1), "new");
  table.ReadOnly = true;
  EXPECT_THROW(table.DeleteRecord(), AsgError);
  EXPECT_THROW(check.AppendRecord({}), AsgError);  // a query has no table to write to

  TASQLite3Query typeless(&db);
  typeless.TypeLess = true;
  typeless.SetSQL("select flag from t");
  typeless.Open();
  EXPECT_EQ(typeless.FieldDef(0).type, ftString);
  EXPECT_EQ(typeless.FieldDef(0).size, 2);
}

TEST_F(DatasetTest, FailuresRaiseTheirTextsAndLeaveTheDatasetClosed) {
  TASQLite3Query q;
  EXPECT_EQ(Raised(q), "no database connection");
  q.SetConnection(&db);
  q.SetSQL("   ");
  EXPECT_EQ(Raised(q), "no query specified");
  q.SetSQL("select * from missing");
  EXPECT_EQ(Raised(q), "no such table: missing");
  EXPECT_FALSE(q.Active());

  db.ExecDirect("create table w (name nvarchar(20))");
  q.SetSQL("select name from w");
  EXPECT_EQ(Raised(q), "Fieldtype of Field \"name\" not supported!");

  db.ExecDirect("create table b (v boolean); insert into b values ('maybe')");
  q.SetSQL("select v from b");
  EXPECT_EQ(Raised(q), "'maybe' is not a valid boolean value");
  EXPECT_EQ(q.RecordCount(), 0);

  // A failing step (a constraint here) surfaces as the finalize code.
  db.ExecDirect("create table u (x unique); insert into u values (1)");
  q.SetSQL("insert into u values (1)");
  EXPECT_EQ(Raised(q), "SQLiteExecute error: 19");
}

TEST_F(DatasetTest, StatementsWithoutRowsAndBoundParameters) {
  TASQLite3Query q(&db);
  q.SetSQL("create table p (a, b)");
  q.ExecSQL();
  EXPECT_TRUE(q.Active());
  EXPECT_EQ(q.FieldCount(), 0);
  EXPECT_TRUE(q.Eof());
  EXPECT_EQ(q.RecNo(), 0);

  // Values are bound, never pasted: quotes and colons arrive unchanged.
  const std::string tricky = "x\"); drop table p; --'";
  q.SetSQL("insert into p (a, b) values (:first, ?)");
  ASSERT_EQ(q.Params().size(), 2u);
  q.ParamByName("FIRST").value = tricky;
  q.Params()[1].isNull = true;
  q.ExecSQL();
  q.SetSQL("select a, b, 'a::b' as c from p where a = :a");
  q.SetParamValues({tricky});
  q.Open();
  ASSERT_EQ(q.RecordCount(), 1);
  EXPECT_EQ(q.CellText(0, 0), tricky);
  EXPECT_EQ(q.CellText(0, 2), "a::b");  // inside quotes nothing is a parameter

  q.Close();
  q.MaxResults = 0;
  q.StartResult = 1;
  q.SetSQL("select 1 union all select 2");
  EXPECT_EQ(q.BuildStatement(), "select 1 union all select 2 limit -1 offset 1");
  q.MaxResults = q.StartResult = 0;

  // AutoCommit wraps the statement; a failing one still ends its transaction.
  q.AutoCommit = true;
  q.SetSQL("insert into nowhere values (1)");
  EXPECT_THROW(q.ExecSQL(), EDatabaseError);
  q.SetSQL("insert into p values (1, 2)");
  q.ExecSQL();
  EXPECT_EQ(db.RowsAffected(), 1);
}

TEST(ResultStore, KeepsRowsCompactAndAddressable) {
  TFResult r(2);
  const std::string big(600000, 'b');
  r.Add({"a", "b"}, 10);
  r.Add({big, ""}, 11);
  r.Insert(0, {"first", "x"}, 9);
  EXPECT_EQ(r.Count(), 3);
  EXPECT_EQ(r.Cell(0, 0), "first");
  EXPECT_EQ(r.Cell(2, 0), big);
  EXPECT_EQ(r.Cell(2, 1), "");
  EXPECT_EQ(r.Cell(7, 0), "");  // out of range reads empty
  EXPECT_EQ(r.GetBookmark(0), 2);
  r.Delete(1);
  EXPECT_EQ(r.GetRowId(1), 11);
  EXPECT_EQ(r.GetBookmark(1), 1);
  EXPECT_LT(r.MemoryUsed(), big.size() + (size_t{2} << 20));
}
