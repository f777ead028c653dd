// Every format written from a dataset filled from a real SQLite file and read
// back cell by cell by independent readers: Python's csv, html.parser and xlrd,
// unrtf, and LibreOffice for the spreadsheet formats.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>

#include "export/datasetsource.h"
#include "export/output.h"
#include "export_support.h"
#include "sqlstore/database.h"
#include "sqlstore/dataset.h"

using namespace quorvel::test;

namespace {

const std::vector<std::string> kColumns = {"oid", "cn", "description", "mail"};

std::string LongValue() {
  std::string s;
  while (s.size() < 5000) s += "abcdefghij0123456789 ";
  s.resize(4998);
  return s + "é";  // 5000 characters, the last one outside ASCII
}

// The hard values, one row per kind of trouble.
std::vector<TkxValues> HardRows() {
  return {
      {"cn=Jürgen Müller,ou=people,o=example", "Jürgen", "say \"hi\", then leave",
       "juergen@example.org"},
      {"cn=Łukasz;x", "Łukasz", "a;b;c", ""},
      {"cn=Иван", "Иван", "tab\there", "  padded  "},
      {"cn=日本", "日本", "line1\r\nline2", "lf\nonly"},
      {"cn=markup", "<b>bold</b> & co", "{\\rtf1} back\\slash }{", "mailto:x@example.org"},
      {"cn=long", LongValue(), "€ and ’quotes’", "plain"},
      {"cn=quote\"only", "x\"y", "comma,only", "http://example.org/?a=1&b=2"},
      // Texts that look like numbers in some notation stay the same text;
      // plain decimals are numbers in the spreadsheets and read back alike.
      {"cn=numbers", "00123", "1e5", "42"},
      {"cn=hex", "xface", "$1F", "12345678901234567890"},
      {"cn=decimals", "-3.25", "Xbad", "1.50"},
      {"cn=wide", "123456789012345", "0x1F", "-0"},
      // A value that would end its string item in DIF and hide what follows.
      {"cn=formula", "=1+1", "_x0041_ stays", "@SUM(A1)"},
      {"cn=evil", "\"tab\"\tand \"quote\"", "evil\n1,0\n\"INJECTED\"\n-1,0\nBOT", "\t"},
  };
}

std::string Json(const std::string& s) {
  std::string r = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      r += '\\';
      r += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      r += buf;
    } else {
      r += static_cast<char>(c);
    }
  }
  return r + "\"";
}

std::string JsonRow(const TkxValues& row) {
  std::string r = "[";
  for (std::size_t i = 0; i < row.size(); ++i) r += (i ? "," : "") + Json(row[i]);
  return r + "]";
}

void WriteExpected(const std::string& path, const std::vector<TkxValues>& rows) {
  std::string j =
      "{\"header\":" + JsonRow(kColumns) + ",\"widths\":[1024,1024,1024,255],\"rows\":[";
  for (std::size_t i = 0; i < rows.size(); ++i) j += (i ? "," : "") + JsonRow(rows[i]);
  WriteAll(path, j + "]}");
}

// Runs a command; returns its exit status and fills `output` with what it printed.
int Run(const std::string& command, std::string& output) {
  output.clear();
  std::FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (p == nullptr) return -1;
  std::array<char, 4096> buf;
  std::size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) output.append(buf.data(), n);
  return pclose(p);
}

std::string Checker() {
  return std::string(QUORVEL_SOURCE_DIR) + "/tests/export/readers/check_report.py";
}

void ExpectReads(const std::string& format, const std::string& report,
                 const std::string& expected) {
  ASSERT_TRUE(quorvel::FileExists(report)) << report;
  std::string out;
  const int rc = Run(
      "/usr/bin/python3 " + Checker() + " " + format + " '" + report + "' '" + expected + "'", out);
  EXPECT_EQ(rc, 0) << format << " " << report << ":\n" << out;
}

// Converts `files` to UTF-8 CSV with LibreOffice in one run, with its own
// profile; returns the folder of the converted files.
std::string LibreOfficeToCsv(const ExportTempDir& dir, const std::string& name,
                             const std::string& infilter, const std::vector<std::string>& files) {
  const std::string out = dir.File("lo-" + name);
  std::string cmd = "LC_ALL=C.UTF-8 soffice --headless -env:UserInstallation=file://" +
                    dir.File("profile-" + name) + " ";
  if (!infilter.empty()) cmd += "--infilter='" + infilter + "' ";
  cmd += "--convert-to 'csv:Text - txt - csv (StarCalc):44,34,76,1,,0,true' --outdir " + out;
  for (const std::string& f : files) cmd += " '" + f + "'";
  std::string log;
  Run(cmd, log);  // exits 0 even when it fails: the caller checks the files
  return out + "/";
}

// A working table in a real SQLite file, laid out as the program lays out the
// results table, opened through the storage layer's query.
class SqliteTable {
 public:
  SqliteTable(const std::string& file, const std::vector<TkxValues>& rows) {
    db_.SetDriverDLL("libsqlite3.so.0");
    db_.SetDatabase(file);
    db_.Open();
    query_ = std::make_unique<TASQLite3Query>(&db_);
    Exec(
        "CREATE TABLE export (\"oid\" VARCHAR(1024),\"cn\" VARCHAR(1024),"
        "\"description\" VARCHAR(1024),\"mail\")");
    db_.StartTransaction();
    for (const TkxValues& r : rows) {
      query_->SetSQL("INSERT INTO export VALUES (?,?,?,?)");
      query_->SetParamValues(r);
      query_->ExecSQL();
    }
    db_.Commit();
    query_->SetSQL("SELECT * FROM export ORDER BY oid ASC");
    query_->Open();
  }
  TASQLite3Query& Query() { return *query_; }

 private:
  void Exec(const std::string& sql) {
    query_->SetSQL(sql);
    query_->ExecSQL();
  }
  TASQLite3DB db_;
  std::unique_ptr<TASQLite3Query> query_;
};

std::vector<TkxValues> SortedByOid(std::vector<TkxValues> rows) {
  std::sort(rows.begin(), rows.end(),
            [](const TkxValues& a, const TkxValues& b) { return a[0] < b[0]; });
  return rows;
}

struct Written {
  std::string csv, tab, txt, ldif, html, doc, rtf, xls, slk, dif, xlsx;
};

Written WriteAllFormats(TkxRowSource& source, const ExportTempDir& dir, const std::string& stem) {
  Exporter x(source, dir.Path());
  Written w;
  auto one = [&](TkxExportType t, const std::string& name) {
    const std::string path = dir.File(stem + name);
    x.engine.ExportType = t;
    EXPECT_TRUE(x.engine.ExportToPath(path)) << name << ": " << x.engine.LastRun().Message;
    return path;
  };
  w.csv = one(xtCSV, ".csv");
  w.tab = one(xtTAB, "-tab.txt");
  w.txt = one(xtTXT, ".txt");
  w.ldif = one(xtLDIF, ".ldif");
  w.html = one(xtHTML, ".html");
  w.doc = one(xtWord, ".doc");
  w.rtf = one(xtRTF, ".rtf");
  w.xls = one(xtExcel, ".xls");
  w.slk = one(xtSYLK, "-sylk.slk");
  w.dif = one(xtDIF, "-dif.dif");
  w.xlsx = one(xtXLSX, "-book.xlsx");
  return w;
}

class ExportReaders : public ::testing::Test {
 protected:
  ExportTempDir dir;
};

TEST_F(ExportReaders, HardValuesAndAnEmptyTableReadBackInEveryFormat) {
  const std::vector<TkxValues> rows = SortedByOid(HardRows());
  SqliteTable hard(dir.File("hard.db"), HardRows());
  SqliteTable empty(dir.File("empty.db"), {});
  // The dataset holds the values as inserted.
  ASSERT_EQ(hard.Query().RecordCount(), static_cast<int>(rows.size()));
  for (std::size_t r = 0; r < rows.size(); ++r)
    for (std::size_t c = 0; c < kColumns.size(); ++c)
      ASSERT_EQ(hard.Query().CellText(static_cast<int>(r), static_cast<int>(c)), rows[r][c]);

  TkxDatasetRowSource hardSource(&hard.Query());
  TkxDatasetRowSource emptySource(&empty.Query());
  const Written h = WriteAllFormats(hardSource, dir, "hard");
  const Written e = WriteAllFormats(emptySource, dir, "empty");

  const std::string all = dir.File("all.json"), none = dir.File("none.json");
  WriteExpected(all, rows);
  WriteExpected(none, {});

  for (const auto& [w, expected] : {std::pair{&h, all}, std::pair{&e, none}}) {
    ExpectReads("csv", w->csv, expected);
    ExpectReads("ldif", w->ldif, expected);
    ExpectReads("html", w->html, expected);
    ExpectReads("rtf", w->rtf, expected);
    ExpectReads("rtf", w->doc, expected);
    ExpectReads("xls", w->xls, expected);
    ExpectReads("xlsx", w->xlsx, expected);
  }
  ExpectReads("tab", h.tab, all);
  ExpectReads("tab", e.tab, none);
  ExpectReads("txt", h.txt, all);
  ExpectReads("txt", e.txt, none);
  // Every column read as text: the reader would take "00123" for a number.
  const std::string tab = LibreOfficeToCsv(
      dir, "tab", "Text - txt - csv (StarCalc):9,34,76,1,1/2/2/2/3/2/4/2", {h.tab, e.tab});
  ExpectReads("lo-tab", tab + "hard-tab.csv", all);
  ExpectReads("lo-tab", tab + "empty-tab.csv", none);

  const std::string xls = LibreOfficeToCsv(dir, "xls", "MS Excel 97", {h.xls, e.xls});
  ExpectReads("lo-xls", xls + "hard.csv", all);
  ExpectReads("lo-xls", xls + "empty.csv", none);
  const std::string slk = LibreOfficeToCsv(dir, "slk", "", {h.slk, e.slk});
  ExpectReads("lo", slk + "hard-sylk.csv", all);
  ExpectReads("lo", slk + "empty-sylk.csv", none);
  // DIF names no character set: the reader is told UTF-8, the program's text.
  const std::string dif = LibreOfficeToCsv(dir, "dif", "DIF:76", {h.dif, e.dif});
  ExpectReads("lo-dif", dif + "hard-dif.csv", all);
  ExpectReads("lo-dif", dif + "empty-dif.csv", none);
  const std::string xlsx = LibreOfficeToCsv(dir, "xlsx", "", {h.xlsx, e.xlsx});
  ExpectReads("lo-xlsx", xlsx + "hard-book.csv", all);
  ExpectReads("lo-xlsx", xlsx + "empty-book.csv", none);
}

TEST_F(ExportReaders, AWorkbookStaysReadableWithBytesThatAreNotUtf8) {
  // A server sending Latin-1 instead of UTF-8: the stray bytes are taken as
  // Western characters, as everywhere else, and every other cell is intact.
  SqliteTable table(dir.File("latin1.db"), {{"cn=caf\xE9", "Andr\xE9", "ok \xEF\xBF\xBE", "x"}});
  TkxDatasetRowSource source(&table.Query());
  Exporter x(source, dir.Path());
  x.engine.ExportType = xtXLSX;
  ASSERT_TRUE(x.engine.ExportToPath(dir.File("latin1.xlsx"))) << x.engine.LastRun().Message;
  const std::string expected = dir.File("latin1.json");
  WriteExpected(expected, {{"cn=café", "André", "ok _xFFFE_", "x"}});
  ExpectReads("xlsx", dir.File("latin1.xlsx"), expected);
}

TEST_F(ExportReaders, ExcelSheetFullToItsLastRowReadsWhole) {
  // 16,383 data rows below the header fill the sheet the start record
  // declares; every reader takes it whole. One more is refused.
  std::vector<TkxValues> rows;
  for (int i = 0; i < 16383; ++i) {
    char oid[32];
    std::snprintf(oid, sizeof oid, "cn=user%05d,o=x", i);
    rows.push_back({oid, "Name " + std::to_string(i), i % 7 ? "x" : "", std::to_string(i)});
  }
  SqliteTable table(dir.File("full.db"), rows);
  TkxDatasetRowSource source(&table.Query());
  Exporter x(source, dir.Path());
  x.engine.ExportType = xtExcel;
  const std::string xls = dir.File("full.xls"), expected = dir.File("full.json");
  ASSERT_TRUE(x.engine.ExportToPath(xls)) << x.engine.LastRun().Message;
  WriteExpected(expected, rows);
  ExpectReads("xls", xls, expected);
  std::string log;
  ::Run("GSETTINGS_BACKEND=memory HOME='" + dir.Path() + "' ssconvert '" + xls + "' '" +
            dir.File("full-gnumeric.csv") + "'",
        log);
  ExpectReads("gnumeric-xls", dir.File("full-gnumeric.csv"), expected);

  rows.push_back({"cn=user99999,o=x", "one too many", "", ""});
  SqliteTable over(dir.File("over.db"), rows);
  TkxDatasetRowSource overSource(&over.Query());
  Exporter o(overSource, dir.Path());
  o.engine.ExportType = xtExcel;
  EXPECT_FALSE(o.engine.ExportToPath(dir.File("over.xls")));
  EXPECT_NE(o.engine.LastRun().Message.find("16383 data rows"), std::string::npos)
      << o.engine.LastRun().Message;
  EXPECT_FALSE(quorvel::FileExists(dir.File("over.xls")));
}

TEST_F(ExportReaders, AHundredThousandRows) {
  std::vector<TkxValues> rows;
  for (int i = 0; i < 100000; ++i) {
    char oid[32];
    std::snprintf(oid, sizeof oid, "cn=user%05d,o=x", i);
    rows.push_back({oid, "Name " + std::to_string(i), i % 7 ? "x" : "",
                    i % 2 ? "u" + std::to_string(i) : std::to_string(i)});
  }
  SqliteTable table(dir.File("big.db"), rows);
  TkxDatasetRowSource source(&table.Query());
  Exporter x(source, dir.Path());
  const std::string expected = dir.File("big.json");
  WriteExpected(expected, rows);
  for (auto [type, name, reader] :
       {std::tuple{xtCSV, "big.csv", "csv"}, std::tuple{xtLDIF, "big.ldif", "ldif"},
        std::tuple{xtHTML, "big.html", "html"}, std::tuple{xtXLSX, "big.xlsx", "xlsx"}}) {
    x.engine.ExportType = type;
    ASSERT_TRUE(x.engine.ExportToPath(dir.File(name))) << x.engine.LastRun().Message;
    ExpectReads(reader, dir.File(name), expected);
  }
  const std::string lo = LibreOfficeToCsv(dir, "big", "", {dir.File("big.xlsx")});
  ExpectReads("lo-xlsx", lo + "big.csv", expected);
  // Too many rows for the old spreadsheet format: refused, nothing written.
  x.engine.ExportType = xtExcel;
  EXPECT_FALSE(x.engine.ExportToPath(dir.File("big.xls")));
  EXPECT_FALSE(quorvel::FileExists(dir.File("big.xls")));
}

TEST_F(ExportReaders, ReadableDirectoryTimesAreDateCellsInAWorkbook) {
  // Columns named after time attributes hold readable times (date-time cells)
  // and other values (text or numbers as ever); the same text under another
  // column, several times in one cell, raw values and a time before 1900
  // stay as they were. The property table's Value cells follow their Name.
  const std::vector<std::string> results = {"oid", "pwdLastSet", " WhenCreated", "description"};
  const std::vector<TkxValues> resultRows = {
      {"cn=a", "2026-12-08 17:37:23", "2026-12-08 15:37:23", "2026-12-08 17:37:23"},
      {"cn=b", "9223372036854775807", "[2026-01-01 00:00:00][2026-01-02 00:00:00]", "x"},
      {"cn=c", "0", "20261208173723.0Z", ""},
      {"cn=d", "1601-01-01 00:00:00", "2026-02-30 00:00:00", "y"},
      {"cn=e", "1900-03-01 00:00:01", "9999-12-31 23:59:59", "z"},
  };
  const std::vector<std::string> property = {"Icon", "Name", "Value", "Type", "Size"};
  const std::vector<TkxValues> propertyRows = {
      {"0", "cn", "2026-12-08 17:37:23", "TEXT", "19"},
      {"0", "lastLogonTimestamp", "2026-12-08 17:37:37", "TEXT", "18"},
      {"0", "objectGUID", "1effbc1e-4aa3-4f9d-a508-d4d81f1f5873", "BINARY", "16"},
  };
  struct Case {
    const char* name;
    const std::vector<std::string>& header;
    const std::vector<TkxValues>& rows;
    const char* times;
  } cases[] = {
      {"results", results, resultRows, "[[0,1],[0,2],[4,1],[4,2]]"},
      {"property", property, propertyRows, "[[1,2]]"},
  };
  for (const Case& c : cases) {
    auto src = Table(c.header, c.rows);
    Exporter x(src, dir.Path());
    x.engine.ExportType = xtXLSX;
    const std::string report = dir.File(std::string(c.name) + ".xlsx");
    ASSERT_TRUE(x.engine.ExportToPath(report)) << x.engine.LastRun().Message;
    std::string j = "{\"header\":" + JsonRow(c.header) + ",\"times\":" + c.times + ",\"rows\":[";
    for (std::size_t i = 0; i < c.rows.size(); ++i) j += (i ? "," : "") + JsonRow(c.rows[i]);
    const std::string expected = dir.File(std::string(c.name) + ".json");
    WriteAll(expected, j + "]}");
    ExpectReads("xlsx", report, expected);
  }
}

}  // namespace
