// The two formats written from the values kept beside the rows: exact bytes
// for the rules a reader depends on (safe strings, Base64, folding, JSON
// escapes, absent attributes), the report's order, and a clear failure for rows
// that keep no values.
#include <gtest/gtest.h>

#include "export/datasetsource.h"
#include "export/output.h"
#include "export_support.h"
#include "sqlstore/database.h"
#include "sqlstore/dataset.h"
#include "sqlstore/entryvalues.h"

using namespace quorvel::test;
using quorvel::TEntryValues;

namespace {

// A published run: `export` with its rows (cells as the grid shows them) and
// `export_values` with the exact values, in a real SQLite file.
class PublishedRun {
 public:
  explicit PublishedRun(const std::string& file) {
    db.SetDriverDLL("libsqlite3.so.0");
    db.SetDatabase(file);
    db.Open();
    db.ExecDirect("CREATE TABLE export (\"oid\" VARCHAR(1024),\"cn\" VARCHAR(1024),\"mail\")");
    quorvel::CreateEntryValuesTable(db, "export_values");
  }
  // Adds an entry; its cells are the values joined as the grid joins them.
  void Add(const std::string& dn, std::vector<std::vector<std::string>> columns,
           std::vector<std::string> names = {"cn", "mail"}) {
    TEntryValues v;
    v.DN = dn;
    v.Columns.resize(3);
    TASQLite3Query insert(&db);
    insert.SetSQL("INSERT INTO export VALUES (?,?,?)");
    std::vector<std::string> cells = {dn};
    for (std::size_t c = 0; c < 2; ++c) {
      std::string cell;
      for (const std::string& value : columns[c])
        cell += columns[c].size() == 1 ? value : "[" + value + "]";
      cells.push_back(cell);
      if (!columns[c].empty()) v.Columns[c + 1] = {names[c], columns[c]};
    }
    insert.SetParamValues(cells);
    insert.ExecSQL();
    quorvel::TEntryValueWriter(db, "export_values").Add(db.LastInsertRowId(), v);
  }
  TASQLite3DB db;
};

std::string Write(TkxRowSource& source, TkxExportType type, const ExportTempDir& dir,
                  TkxResultFacts facts = {}, std::string* message = nullptr) {
  Exporter x(source, dir.Path());
  x.engine.ResultFacts = facts;
  const std::string out = x.Write(type, dir.File("report"));
  if (message) *message = x.engine.LastRun().Message;
  return x.engine.LastRun().Result == TkxRunResult::roDone ? out : "(failed)";
}

}  // namespace

TEST(ExactValues, LdifRecordsEncodeWhatIsNotASafeStringAndFoldLongLines) {
  ExportTempDir dir;
  PublishedRun run(dir.File("dump.db"));
  const std::string longValue(100, 'x');
  run.Add("cn=b,o=x", {{" lead", "trail ", ":c", "<a", "a][b", "cr\r\nlf"}, {}}, {"CN", "mail"});
  run.Add("cn=\xC3\xA9,o=x", {{""}, {longValue, std::string("n\0l", 3)}});
  run.Add("cn=a,o=x", {{"plain"}, {"a@x"}});
  TASQLite3Query rows(&run.db);
  rows.SetInPlaceSQL("export", "oid");
  rows.Open();
  TkxDatasetRowSource source(&rows);
  const std::string ldif =
      Write(source, xtLDIF2849, dir, {"ldap.example", "o=x", "Sub Containers", "(cn=*)", false});
  EXPECT_EQ(ldif,
            "# Quorvel LDIF (RFC 2849) report\n# Server: ldap.example\n# Base DN: o=x\n"
            "# Scope: Sub Containers\n# Filter: (cn=*)\n# Generated on " +
                std::string(kNow) +
                "\nversion: 1\n"
                // In the report's order (by DN), the names as the directory sent them.
                "\ndn: cn=a,o=x\ncn: plain\nmail: a@x\n"
                "\ndn: cn=b,o=x\nCN:: IGxlYWQ=\nCN:: dHJhaWwg\nCN:: OmM=\nCN:: PGE=\nCN: a][b\n"
                "CN:: Y3INCmxm\n"
                "\ndn:: Y249w6ksbz14\ncn:\nmail: " +
                std::string(70, 'x') + "\n " + std::string(30, 'x') + "\nmail:: bgBs\n");
}

TEST(ExactValues, JsonLinesHoldEveryRequestedAttributeAsAnArray) {
  ExportTempDir dir;
  PublishedRun run(dir.File("dump.db"));
  run.Add("cn=a,o=x", {{"  padded  ", "q\"b\\s\ttab\r\n"}, {}});
  run.Add("cn=b,o=x", {{std::string("n\0l", 3)}, {"caf\xE9", "\xC3\xA9"}});
  TASQLite3Query rows(&run.db);
  rows.SetInPlaceSQL("export", "oid");
  rows.Open();
  TkxDatasetRowSource source(&rows);
  EXPECT_EQ(Write(source, xtJSONL, dir),
            "{\"dn\": \"cn=a,o=x\", \"cn\": [\"  padded  \", \"q\\\"b\\\\s\\ttab\\r\\n\"], "
            "\"mail\": []}\n"
            "{\"dn\": \"cn=b,o=x\", \"cn\": [{\"base64\": \"bgBs\"}], \"mail\": [{\"base64\": "
            "\"Y2Fm6Q==\"}, \"\xC3\xA9\"]}\n");
}

TEST(ExactValues, RowsWithoutKeptValuesFailTheseFormatsAndNoOther) {
  ExportTempDir dir;
  TkxMemoryRowSource memory = Table({"oid", "cn"}, {{"cn=a", "a"}});
  for (TkxExportType type : {xtLDIF2849, xtJSONL}) {
    std::string message;
    EXPECT_EQ(Write(memory, type, dir, {}, &message), "(failed)");
    EXPECT_NE(message.find("or choose another format"), std::string::npos) << message;
    EXPECT_FALSE(quorvel::FileExists(dir.File("report")));
  }
  EXPECT_NE(Write(memory, xtCSV, dir), "(failed)");
}

TEST(ExactValues, EveryTargetIsInTheOneTable) {
  for (const char* name : {"ldif2849", "jsonl", "csv", "xlsx"})
    ASSERT_NE(ExportFormatByCommand(name), nullptr) << name;
  EXPECT_EQ(ExportFormatByCommand("ldif2849")->Type, xtLDIF2849);
  EXPECT_STREQ(ExportFormatInfo(xtLDIF2849).ListText, "LDIF (RFC 2849)");
  EXPECT_STREQ(ExportFormatInfo(xtJSONL).ListText, "JSON Lines");
  EXPECT_STREQ(ExportFormatInfo(xtJSONL).Extension, "JSONL");
  EXPECT_EQ(ExportFormatByCommand("clipboard"), nullptr);
}
