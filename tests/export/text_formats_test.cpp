// Byte-exact layouts of the line formats: LDIF, plain text, CSV, tab-separated,
// DIF and SYLK, as small tables of cases.
#include <gtest/gtest.h>

#include <algorithm>

#include "export/writers.h"
#include "export_support.h"

using namespace quorvel::test;

namespace {

class ExportText : public ::testing::Test {
 protected:
  ExportTempDir dir;
};

TEST(ExportQuoteValue, QuotesOnlyWhatNeedsIt) {
  struct Case {
    std::string in;
    bool force;
    std::string out;
  } cases[] = {
      {"plain", false, "plain"},
      {"", false, ""},
      {"", true, "\"\""},
      {"a b", false, "\"a b\""},
      {"a,b", false, "\"a,b\""},
      {"say \"hi\"", false, "\"say \"\"hi\"\"\""},
      {"x\"y", false, "\"x\"\"y\""},
      {"l1\r\nl2", false, "\"l1\r\nl2\""},
      {"l1\nl2", false, "\"l1\nl2\""},
      {"tab\there", false, "tab\there"},
      {"cr\ronly", false, "\"cr\ronly\""},
      {"\xc3\xa9t\xc3\xa9\xff", false, "\xc3\xa9t\xc3\xa9\xff"},  // bytes past ASCII stay bare
      {"plain", true, "\"plain\""},
  };
  for (const Case& c : cases) EXPECT_EQ(QuoteValue(c.in, c.force), c.out) << c.in;
}

TEST_F(ExportText, LdifEntriesKeepOneLinePerColumnAndEncodeLineBreaks) {
  auto src =
      Table({"oid", "cn"}, {{"cn=a,o=x", "Alice"}, {"cn=b,o=x", ""}, {"cn=c", "line1\nline2"}});
  Exporter x(src);
  EXPECT_EQ(x.Write(xtLDIF, dir.File("r.ldif")),
            "# Quorvel LDIF Output File\r\n# Generated on 08/12/2026 10:00:00\r\nversion: 1\r\n\r\n"
            "# Result 0\r\noid: cn=a,o=x\r\ncn: Alice\r\n\r\n"
            "# Result 1\r\noid: cn=b,o=x\r\ncn: \r\n\r\n"
            "# Result 2\r\noid: cn=c\r\ncn:: bGluZTEKbGluZTI=\r\n\r\n");

  auto empty = Table({"oid", "cn"}, {});
  Exporter y(empty);
  EXPECT_EQ(
      y.Write(xtLDIF, dir.File("e.ldif")),
      "# Quorvel LDIF Output File\r\n# Generated on 08/12/2026 10:00:00\r\nversion: 1\r\n\r\n");
}

TEST_F(ExportText, LdifNumbersEntriesByRowsVisitedEvenWhenRowsAreSkipped) {
  auto src = Table({"oid"}, {{"a"}, {"b"}, {"c"}});
  Exporter x(src);
  x.engine.OnExport = [](TkxCustomExport&, int current, int, TkxValues&, bool& can) {
    can = current != 1;
  };
  const std::string out = x.Write(xtLDIF, dir.File("r.ldif"));
  EXPECT_NE(out.find("# Result 0\r\noid: a\r\n"), std::string::npos);
  EXPECT_EQ(out.find("oid: b"), std::string::npos);
  EXPECT_NE(out.find("# Result 2\r\noid: c\r\n"), std::string::npos);
}

TEST_F(ExportText, CsvRowsQuoteAndKeepLineBreaksInsideTheCell) {
  auto src =
      Table({"oid", "cn", "mail"}, {{"cn=a,o=x", "", "a@x"}, {"dn", "two\r\nlines", "q\"q"}});
  Exporter x(src);
  EXPECT_EQ(x.Write(xtCSV, dir.File("r.csv")),
            "oid,cn,mail\r\n\"cn=a,o=x\",,a@x\r\ndn,\"two\r\nlines\",\"q\"\"q\"\r\n");
}

TEST_F(ExportText, TabSeparatedEndsWithTheExportDate) {
  auto src = Table({"oid", "cn"}, {{"a", "b c"}, {"", "x"}});
  Exporter x(src);
  EXPECT_EQ(x.Write(xtTAB, dir.File("r.txt")),
            "oid\tcn\r\na\tb c\r\n\tx\r\nCreated: 08/12/2026 10:00:00\r\n");
}

TEST_F(ExportText, TabTxtAndDifKeepEveryRowOnItsLines) {
  // Tab-separated encloses only values that need it; plain text and DIF put a
  // blank for every line break (TAB too in plain text) so no row is split and
  // no value can start items of its own.
  auto src = Table({"oid", "cn"}, {{"t\tab", "say \"hi\""},
                                   {"two\r\nlines", "evil\n1,0\n\"INJECTED\"\n-1,0\nBOT"},
                                   {"plain", "x y"}});
  Exporter x(src);
  EXPECT_EQ(x.Write(xtTAB, dir.File("r.txt")),
            "oid\tcn\r\n\"t\tab\"\t\"say \"\"hi\"\"\"\r\n"
            "\"two\r\nlines\"\t\"evil\n1,0\n\"\"INJECTED\"\"\n-1,0\nBOT\"\r\n"
            "plain\tx y\r\nCreated: 08/12/2026 10:00:00\r\n");

  const std::string txt = x.Write(xtTXT, dir.File("r.txt"));
  EXPECT_NE(txt.find("\r\nt ab "), std::string::npos);
  EXPECT_NE(txt.find("\r\ntwo lines "), std::string::npos);
  EXPECT_NE(txt.find(" evil 1,0 \"INJECTED\" -1,0 BOT "), std::string::npos);
  EXPECT_EQ(std::count(txt.begin(), txt.end(), '\n'), 7);  // title, 2 lines, 3 rows, date
  EXPECT_EQ(x.engine.LastRun().LineBreakCells, 0);

  const std::string dif = x.Write(xtDIF, dir.File("r.dif"));
  EXPECT_NE(dif.find("\r\n\"two lines\"\r\n"), std::string::npos);
  EXPECT_NE(dif.find("\r\n\"evil 1,0 \"\"INJECTED\"\" -1,0 BOT\"\r\n"), std::string::npos);
  EXPECT_EQ(std::count(dif.begin(), dif.end(), '\n'), 12 + 4 * 6 + 2);
  EXPECT_EQ(x.engine.LastRun().LineBreakCells, 2);
  EXPECT_EQ(ReplacedCharactersNotice(x.engine.LastRun()),
            "2 cells hold line breaks, written as blanks in the DIF report; export as CSV or "
            "HTML to keep them.");
}

TEST_F(ExportText, PlainTextPadsEveryLineToTheTotalWidth) {
  auto src = Table({"oid", "cn"}, {{"cn=a", "Alice"}});
  Exporter x(src);
  const std::string out = x.Write(xtTXT, dir.File("r.txt"));
  const std::string dashes(1280, '-');
  const std::string expected = PadRight("oid", ' ', 1024) + " " + PadRight("cn", ' ', 255) +
                               "\r\n" + dashes + "\r\n" + PadRight("cn=a", ' ', 1024) + " " +
                               PadRight("Alice", ' ', 255) + "\r\n" + dashes +
                               "\r\nCreated: 08/12/2026 10:00:00\r\n";
  EXPECT_EQ(out, expected);
}

TEST_F(ExportText, PlainTextAlignsByColumnAndCountsCharactersNotBytes) {
  TkxMemoryRowSource src({{"a", "", "", fkText, 6, 1, true},
                          {"b", "", "", fkText, 6, 2, true},
                          {"c", "", "", fkText, 6, 3, true}},
                         {{"Jürgen", "12", "ab"}});
  Exporter x(src);
  x.engine.Options.Exclude(xoShowExportDate);
  x.engine.Options.Exclude(xoFooterLine);
  x.engine.Options.Exclude(xoHeaderLine);
  EXPECT_EQ(x.Write(xtTXT, dir.File("a.txt")), "a           b   c   \r\nJürgen     12   ab  \r\n");
  x.engine.Options.Exclude(xoUseAlignments);
  EXPECT_EQ(x.Write(xtTXT, dir.File("b.txt")), "a      b      c     \r\nJürgen 12     ab    \r\n");
}

TEST_F(ExportText, RowNumbersTruncationAndHiddenColumns) {
  auto src = Table({"oid", "cn", "mail"}, {{"1234567890123456", "hidden", "m"}, {"x", "y", "z"}});
  src.Columns[1].Visible = false;
  Exporter x(src);
  x.engine.Options.Include(xoTruncate);
  x.engine.Options.Include(xoRowNumbers);
  x.engine.ColumnWidths = {"10"};
  x.engine.SetRowNumberFormat("No.%d");
  EXPECT_EQ(x.Write(xtCSV, dir.File("r.csv")),
            "      oid,mail\r\nNo.1,1234567...,m\r\nNo.2,x,z\r\n");
  // A title is cut like a value.
  x.engine.Captions = {"Distinguished name"};
  EXPECT_EQ(x.Write(xtCSV, dir.File("r.csv")),
            "      Disting...,mail\r\nNo.1,1234567...,m\r\nNo.2,x,z\r\n");
  x.engine.Captions.clear();
  // Without truncation the value is written whole; the hidden column stays out.
  x.engine.Options.Exclude(xoTruncate);
  x.engine.Options.Exclude(xoRowNumbers);
  EXPECT_EQ(x.Write(xtTAB, dir.File("r.txt")),
            "oid\tmail\r\n1234567890123456\tm\r\nx\tz\r\nCreated: 08/12/2026 10:00:00\r\n");
  x.engine.Options.Include(xoExportInvisibles);
  EXPECT_EQ(x.Write(xtCSV, dir.File("r2.csv")),
            "oid,cn,mail\r\n1234567890123456,hidden,m\r\nx,y,z\r\n");
}

TEST_F(ExportText, DifQuotesEveryStringAndCountsVectorsAndTuples) {
  auto src = Table({"oid", "cn"}, {{"a b", "x"}, {"", "12"}, {"q\"", "3"}});
  Exporter x(src);
  EXPECT_EQ(x.Write(xtDIF, dir.File("r.dif")),
            "TABLE\r\n0,1\r\n\"TKXDBGRIDEXPORT\"\r\nVECTORS\r\n0,2\r\n\"\"\r\nTUPLES\r\n0,3\r\n"
            "\"\"\r\nDATA\r\n0,0\r\n\"\"\r\n"
            "-1,0\r\nBOT\r\n1,0\r\n\"oid\"\r\n1,0\r\n\"cn\"\r\n"
            "-1,0\r\nBOT\r\n1,0\r\n\"a b\"\r\n1,0\r\n\"x\"\r\n"
            "-1,0\r\nBOT\r\n1,0\r\n\"\"\r\n1,0\r\n\"12\"\r\n"
            "-1,0\r\nBOT\r\n1,0\r\n\"q\"\"\"\r\n1,0\r\n\"3\"\r\n"
            "-1,0\r\nEOD\r\n");
}

TEST_F(ExportText, SylkEscapesSemicolonsAndLineBreaksAndCountsRowsFromTheHeader) {
  auto src = Table({"oid", "cn"}, {{"a;b", "say \"hi\""}, {"l1\r\nl2\nl3", ""}});
  Exporter x(src);
  EXPECT_EQ(x.Write(xtSYLK, dir.File("r.slk")),
            "ID;PTKXDBGRIDEXPORT\r\nC;X1;Y1;K\"oid\"\r\nC;X2;Y1;K\"cn\"\r\n"
            "C;X1;Y2;K\"a;;b\"\r\nC;X2;Y2;K\"say \"hi\"\"\r\n"
            "C;X1;Y3;K\"l1\x1b :l2\x1b :l3\"\r\nC;X2;Y3;K\"\"\r\nE\r\n");
  x.engine.Options.Exclude(xoShowHeader);
  EXPECT_EQ(x.Write(xtSYLK, dir.File("n.slk")),
            "ID;PTKXDBGRIDEXPORT\r\nC;X1;Y1;K\"a;;b\"\r\nC;X2;Y1;K\"say \"hi\"\"\r\n"
            "C;X1;Y2;K\"l1\x1b :l2\x1b :l3\"\r\nC;X2;Y2;K\"\"\r\nE\r\n");
}

TEST_F(ExportText, ClipboardGetsThePlainTextAndTheMessage) {
  auto src = Table({"oid"}, {{"a"}});
  Exporter x(src);
  x.engine.ExportType = xtClipboard;
  x.engine.FileName = dir.File("chosen.txt");
  x.engine.ExportToTarget();
  ASSERT_EQ(x.engine.LastRun().Result, TkxRunResult::roDone);
  const std::string dashes(255, '-');
  EXPECT_EQ(x.desktop.Clipboard, PadRight("oid", ' ', 255) + "\r\n" + dashes + "\r\n" +
                                     PadRight("a", ' ', 255) + "\r\n" + dashes +
                                     "\r\nCreated: 08/12/2026 10:00:00\r\n");
  EXPECT_EQ(x.desktop.Informations, std::vector<std::string>{"Data was copied to clipboard!"});
  EXPECT_TRUE(dir.Names().empty());  // the file name is not used

  x.desktop.ClipboardWorks = false;
  int errors = 0;
  x.engine.OnError = [&](TkxCustomExport&, TkxExportError e) {
    errors += e == xeGeneralExportError;
  };
  x.engine.ExportToTarget();
  EXPECT_EQ(x.engine.LastRun().Result, TkxRunResult::roFailed);
  EXPECT_EQ(errors, 1);
}

}  // namespace
