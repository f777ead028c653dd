// Reports made from the working table read in place: the same bytes as from
// the table read whole, and a failed report (not one with empty cells) when
// the rows cannot be read to the end.
#include <gtest/gtest.h>

#include "export/datasetsource.h"
#include "export/output.h"
#include "export_support.h"
#include "sqlstore/database.h"
#include "sqlstore/dataset.h"

using namespace quorvel::test;

namespace {

// A results table of `n` rows in a real SQLite file, written in an order
// that is not the report's, with repeated DNs and values every format must
// escape or encode.
class WorkingTable {
 public:
  WorkingTable(const std::string& file, int n) {
    db.SetDriverDLL("libsqlite3.so.0");
    db.SetDatabase(file);
    db.Open();
    // As the working store runs: readers and one writer side by side.
    db.ExecDirect("PRAGMA journal_mode=WAL");
    db.ExecDirect("CREATE TABLE export (\"oid\" VARCHAR(1024),\"cn\" VARCHAR(1024),\"mail\")");
    TASQLite3Query insert(&db);
    insert.SetSQL("INSERT INTO export VALUES (?,?,?)");
    db.StartTransaction();
    for (int i = 0; i < n; ++i) {
      const int k = (i * 7919) % n;
      insert.SetParamValues({"cn=u" + std::to_string(k / 2) + ",o=x",
                             k % 3 ? "A \"quoted\", <b>&amp; \xC3\xA9" : "",
                             k % 5 ? "line\r\nbreak;\ttab" : "http://x/" + std::to_string(k)});
      insert.ExecSQL();
    }
    db.Commit();
  }
  TASQLite3DB db;
};

}  // namespace

TEST(ExportInPlace, ReportsAreTheBytesOfTheWholeRead) {
  ExportTempDir dir;
  WorkingTable t(dir.File("dump.db"), 1500);
  TASQLite3Query whole(&t.db), inPlace(&t.db);
  whole.SetSQL("SELECT * FROM export ORDER BY oid ASC");
  whole.Open();
  inPlace.SetInPlaceSQL("export", "oid");
  inPlace.Open();
  ASSERT_TRUE(inPlace.ReadsInPlace());
  TkxDatasetRowSource a(&whole), b(&inPlace);
  Exporter xa(a, dir.Path()), xb(b, dir.Path());
  const struct {
    TkxExportType type;
    const char* name;
  } formats[] = {{xtCSV, "r.csv"},   {xtTAB, "r.tab"},  {xtTXT, "r.txt"}, {xtLDIF, "r.ldif"},
                 {xtHTML, "r.html"}, {xtWord, "r.doc"}, {xtRTF, "r.rtf"}, {xtExcel, "r.xls"},
                 {xtSYLK, "r.slk"},  {xtDIF, "r.dif"}};
  // The workbook (.xlsx) is left out: it stamps the time of writing into its
  // document properties, so two writes differ when a second passes between them.
  for (const auto& f : formats) {
    const std::string expected = xa.Write(f.type, dir.File(std::string("whole-") + f.name));
    const std::string got = xb.Write(f.type, dir.File(std::string("inplace-") + f.name));
    EXPECT_FALSE(expected.empty()) << f.name;
    EXPECT_TRUE(got == expected) << f.name << ": the reports differ";
  }
}

TEST(ExportInPlace, RowsReplacedByAnotherRunFailTheReportOrStayOutOfIt) {
  ExportTempDir dir;
  WorkingTable t(dir.File("dump.db"), 1500);
  const std::string replace =
      "CREATE TABLE staged AS SELECT 'cn=other' AS oid, cn, mail FROM export; "
      "DROP TABLE export; ALTER TABLE staged RENAME TO export";
  TASQLite3Query q(&t.db);
  q.SetInPlaceSQL("export", "oid");
  q.Open();
  ASSERT_TRUE(q.ReadsInPlace());
  TkxDatasetRowSource source(&q);
  Exporter x(source, dir.Path());
  x.engine.ExportType = xtCSV;
  const std::string before = x.Write(xtCSV, dir.File("before.csv"));
  ASSERT_NE(before.find("cn=u1,o=x"), std::string::npos);

  // Another program's run replaces the table during the walk: the report is
  // the one read the walk began with, none of the other rows mixed in.
  TASQLite3DB other;
  other.SetDriverDLL("libsqlite3.so.0");
  other.SetDatabase(dir.File("dump.db"));
  other.Open();
  x.engine.OnExport = [&](TkxCustomExport&, int current, int, TkxValues&, bool&) {
    if (current == 300) other.ExecDirect(replace);
  };
  EXPECT_EQ(x.Write(xtCSV, dir.File("during.csv")), before);
  x.engine.OnExport = nullptr;

  // Once replaced, the rows the grid shows are gone: the next report fails
  // and leaves no file, rather than holding the other run's rows.
  EXPECT_FALSE(x.engine.ExportToPath(dir.File("after.csv")));
  EXPECT_NE(x.engine.LastRun().Message.find("could not be read from the working store"),
            std::string::npos)
      << x.engine.LastRun().Message;
  EXPECT_FALSE(quorvel::FileExists(dir.File("after.csv")));
}
