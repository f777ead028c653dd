// Byte-exact layouts of HTML, Word/RTF and the native Excel records, with the
// escaping that keeps directory data from breaking or injecting into them.
#include <gtest/gtest.h>

#include <charconv>
#include <clocale>
#include <cmath>
#include <random>
#include <cstring>

#include "export/cellnumber.h"
#include "export/nativeexcel.h"
#include "export/output.h"
#include "export_support.h"

using namespace quorvel::test;

namespace {

class ExportMarkup : public ::testing::Test {
 protected:
  ExportTempDir dir;
};

TEST_F(ExportMarkup, HtmlDocumentEscapesCellsAndLinksOnlyRealAddresses) {
  auto src =
      Table({"oid", "cn"},
            {{"cn=a", "http://x/?a=1&b=2"}, {"<b>", ""}, {"javascript:alert(1)//http:", "\"q\""}});
  Exporter x(src);
  const std::string out = x.Write(xtHTML, dir.File("r.html"));
  const std::string td = "    <TD ALIGN=\"Left\" >";
  const std::string th = td + "<B><FONT COLOR=\"#FFFFFF\"><small>";
  EXPECT_EQ(
      out,
      "<!-- THIS FILE WAS CREATED BY YOX'S EXPORT COMPONENTS FOR TESSICK MARLOW -->\r\n"
      "<!-- DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0 TRANSITIONAL//EN\" -->\r\n"
      "<HTML>\r\n <HEAD>\r\n"
      "  <META HTTP-EQUIV=\"Content-Type\" CONTENT=\"TEXT/HTML; charset=UTF-8\">\r\n"
      "  <META NAME = \"GENERATOR\" CONTENT = \"Yox's Export Components for Marlow\" >\r\n"
      "  <META NAME = \"Author\" CONTENT = \"Quennick\" >\r\n"
      "  <META NAME = \"Description\" CONTENT = \"https://quorvel.example/reports\" >\r\n"
      "  <TITLE></TITLE>\r\n </HEAD>\r\n"
      " <BODY BGCOLOR=\"#FFFFFF\" LINK=\"#0000FF\" ALINK=\"#FF0000\" VLINK=\"#FFFF00\" "
      "TEXT=\"#000000\">\r\n"
      " <FONT COLOR=\"#000000\" FACE=\"Arial,Helvetica\">\r\n"
      "  <HR>\r\n"
      "  <TABLE WIDTH=\"100%\" CELLPADDING=\"4\" CELLSPACING=\"0\" BORDER=\"1\" "
      "BGCOLOR=\"#FFFFCF\">\r\n"
      "  <FONT COLOR=\"#000000\" FACE=\"Arial,Helvetica\">\r\n"
      "   <TR BGCOLOR=\"#336699\">\r\n" +
          th + "oid</small></FONT></B></TD>\r\n" + th +
          "cn</small></FONT></B></TD>\r\n"
          "   </TR>\r\n"
          "   <TR>\r\n" +
          td + "<small>cn=a</small></TD>\r\n" + td +
          "<small><A HREF=\"http://x/?a=1&amp;b=2\">http://x/?a=1&amp;b=2</A></small></TD>\r\n"
          "   </TR>\r\n"
          "   <TR BGCOLOR=\"#FFFFFF\">\r\n" +
          td + "<small>&lt;b&gt;</small></TD>\r\n" + td +
          "<small>&nbsp;</small></TD>\r\n"
          "   </TR>\r\n"
          "   <TR>\r\n" +
          td + "<small>javascript:alert(1)//http:</small></TD>\r\n" + td +
          "<small>\"q\"</small></TD>\r\n"
          "   </TR>\r\n"
          "  </FONT>\r\n  </TABLE>\r\n  <HR>\r\nCreated: 08/12/2026 10:00:00\r\n"
          " </FONT>\r\n </BODY>\r\n</HTML>\r\n");
}

TEST_F(ExportMarkup, HtmlWithoutHeaderRowStillOpensAndClosesTheTable) {
  auto src = Table({"oid"}, {});
  Exporter x(src);
  x.engine.Options.Exclude(xoShowHeader);
  x.engine.HTML.Options.Exclude(hoShowGridLines);
  const std::string out = x.Write(xtHTML, dir.File("r.htm"));
  EXPECT_NE(out.find("  <TABLE WIDTH=\"100%\" CELLPADDING=\"4\" CELLSPACING=\"0\" "
                     "BGCOLOR=\"#FFFFCF\">\r\n  <FONT COLOR=\"#000000\" FACE=\"Arial,Helvetica\">"
                     "\r\n  </FONT>\r\n  </TABLE>\r\n"),
            std::string::npos);
}

const char* const kRtfHead =
    "{\\rtf1\\ansi\\deff0\\deftab720\r\n"
    "{\\fonttbl{\\f0\\fswiss\\fcharset0 MS Sans Serif;}{\\f1\\fswiss\\fcharset0 MS Sans Serif;}"
    "{\\f2\\fswiss\\fcharset0 MS Sans Serif;}}\r\n"
    "{\\colortbl\\red0\\green0\\blue0;\\red255\\green255\\blue255;\\red0\\green0\\blue0;"
    "\\red0\\green0\\blue128;\\red255\\green255\\blue255;\\red128\\green255\\blue0;}\r\n"
    "\\margl461\\margr562\\margt101\\margb101\\par \\pard\\plain\\cgrid\r\n"
    "{\\stylesheet{\\nowidctlpar\\widctlpar\\adjustright \\fs20\\cgrid \\snext0 Normal;}\r\n";

std::string RowDef(int cells, const std::string& pat) {
  static const int edges[] = {1458, 2917, 4375, 5833};
  std::string d = "\\trowd\\trgaph108\\trrh260\\trleft0";
  for (int k = 0; k < cells; ++k)
    d += "\\clvertalc\\clbrdrt\\brdrs\\brdrw10\\clbrdrl\\brdrs\\brdrw10\\clbrdrb\\brdrs\\brdrw10"
         "\\clbrdrr\\brdrs\\brdrw10 \\clcbpat" +
         pat + "\\cltxlrtb\\cellx" + std::to_string(edges[k]);
  return d;
}

TEST_F(ExportMarkup, RtfRowsAndEscapes) {
  auto src =
      Table({"oid", "cn", "o"}, {{"a{b}\\c", "", "Jürgen Łukasz 日本"}, {"x", "l1\nl2\tt", "€"}});
  Exporter x(src);
  const std::string out = x.Write(xtWord, dir.File("r.doc"));
  ASSERT_EQ(out.rfind(kRtfHead, 0), 0u) << out.substr(0, 600);
  const std::string tail = "}\\pard \\nowidctlpar\\widctlpar\\intbl\\adjustright {\\row}\r\n";
  const std::string header =
      RowDef(3, "3") +
      "\\pard\\ri-123\\nowidctlpar\\widctlpar\\intbl\\adjustright "
      "{\\f1\\fs16\\b\\cf1\\cgrid0 \\ql oid\\cell \\ql cn\\cell \\ql o\\cell " +
      tail;
  const std::string row1 = RowDef(3, "4") +
                           "\\pard\\ri-123\\nowidctlpar\\widctlpar\\intbl\\adjustright "
                           "{\\f2\\fs16\\cf2\\cgrid0 \\ql a\\{b\\}\\\\c\\cell \\ql \\cell "
                           "\\ql J\\'fcrgen \\u321\\'3fukasz \\u26085\\'3f\\u26412\\'3f\\cell " +
                           tail;
  const std::string row2 = RowDef(3, "5") +
                           "\\pard\\ri-123\\nowidctlpar\\widctlpar\\intbl\\adjustright "
                           "{\\f2\\fs16\\cf2\\cgrid0 \\ql x\\cell \\ql l1\\line l2\\tab t\\cell "
                           "\\ql \\'80\\cell " +
                           tail;
  const std::string end =
      "\\pard\\nowidctlpar\\widctlpar\\adjustright {\r\n"
      "\\par \\pard\\plain\\f0\\fs16\\cf0 Created: 08/12/2026 10:00:00\r\n}}";
  EXPECT_NE(out.find(header + row1 + row2 + end), std::string::npos) << out;
  EXPECT_EQ(out.substr(out.size() - end.size()), end);
  EXPECT_EQ(x.Write(xtRTF, dir.File("r.rtf")), out);
}

// ---------------------------------------------------------------- Excel

std::string U16(int v) {
  return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}
std::string Rec(int id, const std::string& body) {
  return U16(id) + U16(body.size()) + body;
}
std::string Dbl(double d) {
  char b[8];
  std::memcpy(b, &d, 8);
  return std::string(b, 8);
}
std::string Font(bool bold) {
  return Rec(0x31, U16(160) + U16(bold ? 1 : 0) + std::string(1, 13) + "MS Sans Serif");
}
// A cell record; `format` is the alignment and borders byte (left, four borders).
std::string Cell(int id, int row, int col, int font, const std::string& body, int format = 0x79) {
  return Rec(id, U16(row) + U16(col) + "\x40" + std::string(1, static_cast<char>(font)) +
                     std::string(1, static_cast<char>(format)) + body);
}
// Everything before the first cell, as the program configures the sheet.
std::string SheetStart() {
  return std::string("\x09\x08\x06\x00\x00\x02\x10\x00\x00\x00", 10) +
         std::string("\x00\x02\x0A\x00\x00\x00\xFF\xFF\x00\x00\x00\x01\x00\x00", 14) +
         Rec(0x42, U16(1252)) + Font(false) + Font(true) + Font(false) +
         Rec(0x43, std::string("\x00\x00\x40\x00", 4)) + Rec(0x15, "\x02&P") + Rec(0x26, Dbl(0.3)) +
         Rec(0x29, Dbl(0.3)) + Rec(0x28, Dbl(0.3)) + Rec(0x27, Dbl(0.3));
}

TEST_F(ExportMarkup, ExcelRecordsInOrderWithCodePageAndCellFormat) {
  auto src = Table({"oid", "n"}, {{"Jürgen 日本", "12345"}, {"$1F", "007"}, {"1 000", "1,5"}});
  Exporter x(src);
  const std::string out = x.Write(xtExcel, dir.File("r.xls"));
  std::string expected = SheetStart();
  expected += Cell(4, 0, 0, 0x40, "\x03oid") + Cell(4, 0, 1, 0x40, "\x01n");
  expected += Cell(4, 1, 0, 0x80,
                   "\x09"
                   "J\xFCrgen ??") +
              Cell(3, 1, 1, 0x80, Dbl(12345));
  // Texts that would not read back the same stay labels.
  expected += Cell(4, 2, 0, 0x80, "\x03$1F") + Cell(4, 2, 1, 0x80,
                                                    "\x03"
                                                    "007");
  expected += Cell(4, 3, 0, 0x80,
                   "\x05"
                   "1 000") +
              Cell(4, 3, 1, 0x80,
                   "\x03"
                   "1,5");
  expected += Rec(0x0A, "");
  EXPECT_EQ(out, expected);
  EXPECT_EQ(x.engine.LastRun().Replaced, 2);
  EXPECT_EQ(ReplacedCharactersNotice(x.engine.LastRun()),
            "2 characters outside the Western (Windows-1252) character set were written as "
            "\"?\" in the Excel report; export as CSV or HTML to keep them.");
}

TEST_F(ExportMarkup, ExcelRowNumberCellsAndWholeNumbersKeepTheirValue) {
  // Row numbers go into integer records; cells that merely look like numbers
  // in another notation stay labels.
  auto src = Table({"oid", "n"}, {{"$10000", "-$1"}, {"x123456789", "0x00000000FF"}});
  Exporter x(src);
  x.engine.Options.Include(xoRowNumbers);
  const std::string out = x.Write(xtExcel, dir.File("r.xls"));
  std::string expected = SheetStart();
  // The header row's first cell is a plain blank: font 1, no borders.
  expected +=
      Cell(1, 0, 0, 0x40, "", 0x00) + Cell(4, 0, 1, 0x40, "\x03oid") + Cell(4, 0, 2, 0x40, "\x01n");
  expected += Cell(2, 1, 0, 0x80, U16(1), 0x78) + Cell(4, 1, 1, 0x80, "\x06$10000") +
              Cell(4, 1, 2, 0x80, "\x03-$1");
  expected += Cell(2, 2, 0, 0x80, U16(2), 0x78) + Cell(4, 2, 1, 0x80, "\x0Ax123456789") +
              Cell(4, 2, 2, 0x80,
                   "\x0C"
                   "0x00000000FF");
  expected += Rec(0x0A, "");
  EXPECT_EQ(out, expected);
}

TEST_F(ExportMarkup, ExcelNumbersReadAlikeInEveryLocaleAndStayInRange) {
  // A program running in a locale with a decimal comma reads "1.5" as 1.5 all
  // the same (checked where such a locale is installed); a number beyond the
  // range of a double stays text.
  const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
  for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "C"})
    if (std::setlocale(LC_NUMERIC, name) != nullptr) break;
  auto src = Table({"oid", "n"}, {{"1.5", "1e999"}});
  Exporter x(src);
  const std::string out = x.Write(xtExcel, dir.File("r.xls"));
  std::setlocale(LC_NUMERIC, saved.c_str());
  const std::string expected = SheetStart() + Cell(4, 0, 0, 0x40, "\x03oid") +
                               Cell(4, 0, 1, 0x40, "\x01n") + Cell(3, 1, 0, 0x80, Dbl(1.5)) +
                               Cell(4, 1, 1, 0x80,
                                    "\x05"
                                    "1e999") +
                               Rec(0x0A, "");
  EXPECT_EQ(out, expected);
}

TEST(ExportCellNumber, OnlyTextsThatReadBackTheSameAreNumbers) {
  const struct {
    const char* text;
    bool number;
    double value;
  } cases[] = {
      {"0", true, 0},
      {"42", true, 42},
      {"-7", true, -7},
      {"3.25", true, 3.25},
      {"0.0012", true, 0.0012},
      {"123456789012345", true, 123456789012345.0},
      {"-0.000000000000001", true, -1e-15},
      {"1234567890123456", false, 0},  // 16 significant digits
      {"12345678901234567890", false, 0},
      {"00123", false, 0},
      {"-01", false, 0},
      {".5", false, 0},
      {"1.", false, 0},
      {"1.50", false, 0},
      {"2.0", false, 0},
      {"-0", false, 0},
      {"0.0", false, 0},
      {"+5", false, 0},
      {" 5", false, 0},
      {"5 ", false, 0},
      {"1e5", false, 0},
      {"1E5", false, 0},
      {"xface", false, 0},
      {"Xbad", false, 0},
      {"$1F", false, 0},
      {"0x1F", false, 0},
      {"1,5", false, 0},
      {"", false, 0},
      {"-", false, 0},
      {"inf", false, 0},
      {"NaN", false, 0},
  };
  for (const auto& c : cases) {
    double v = -99;
    EXPECT_EQ(quorvel::CellNumber(c.text, v), c.number) << c.text;
    if (c.number) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
}

TEST(ExportCellNumber, ANumberIsWrittenBackAsTheSameText) {
  // Both directions over many texts: whatever is taken as a number prints back
  // as the same text, and what a number prints as (shortest plain decimal) is
  // taken as that number, down to 15 significant digits.
  std::mt19937 random(12345);
  const std::string alphabet = "-0123456789.9e1";
  char printed[64];
  for (int k = 0; k < 200000; ++k) {
    std::string text(1 + random() % 18, ' ');
    for (char& c : text) c = alphabet[random() % alphabet.size()];
    double v = 0;
    if (!quorvel::CellNumber(text, v)) continue;
    const auto r = std::to_chars(printed, printed + sizeof printed, v, std::chars_format::fixed);
    ASSERT_EQ(std::string(printed, r.ptr), text);
  }
  for (int k = 0; k < 200000; ++k) {
    const double v =
        std::ldexp(static_cast<double>(random()), static_cast<int>(random() % 80) - 60) *
        (random() % 2 ? 1 : -1);
    const auto r = std::to_chars(printed, printed + sizeof printed, v, std::chars_format::fixed);
    const std::string text(printed, r.ptr);
    if (v == 0) continue;
    std::size_t digits = 0;
    for (char c : text.substr(text.find_first_not_of("-0."))) digits += c >= '0' && c <= '9';
    double back = 0;
    EXPECT_EQ(quorvel::CellNumber(text, back), digits <= 15) << text;
    if (digits <= 15) {
      ASSERT_EQ(back, v) << text;
    }
  }
}

TEST_F(ExportMarkup, ExcelRefusesSheetsItCannotHoldAndWritesNothing) {
  // The start record declares a sheet of 16,384 rows: 16,383 below the header.
  std::vector<TkxValues> rows(16384, TkxValues{"v"});
  auto src = Table({"oid"}, rows);
  Exporter x(src);
  std::vector<TkxExportError> errors;
  x.engine.OnError = [&](TkxCustomExport&, TkxExportError e) { errors.push_back(e); };
  x.engine.ExportType = xtExcel;
  EXPECT_FALSE(x.engine.ExportToPath(dir.File("big.xls")));
  EXPECT_EQ(errors, std::vector<TkxExportError>{xeGeneralExportError});
  EXPECT_NE(x.engine.LastRun().Message.find("16383"), std::string::npos);
  EXPECT_NE(x.engine.LastRun().Message.find("CSV"), std::string::npos);
  EXPECT_TRUE(dir.Names().empty());

  // Rows left out by the row hook are only known during the walk: still too
  // many stops the run there, and the destination stays untouched.
  int skipped = 0;
  x.engine.OnExport = [&](TkxCustomExport&, int cur, int, TkxValues&, bool& can) {
    can = cur >= skipped;
  };
  EXPECT_FALSE(x.engine.ExportToPath(dir.File("big.xls")));
  EXPECT_TRUE(dir.Names().empty());
  skipped = 1;
  EXPECT_TRUE(x.engine.ExportToPath(dir.File("big.xls")));
  x.engine.OnExport = nullptr;

  src.Rows.pop_back();  // 16383 rows fit below the header row
  EXPECT_TRUE(x.engine.ExportToPath(dir.File("full.xls")));

  auto wide = TkxMemoryRowSource(ResultTableColumns(std::vector<std::string>(257, "c")), {});
  Exporter w(wide);
  w.engine.ExportType = xtExcel;
  EXPECT_FALSE(w.engine.ExportToPath(dir.File("wide.xls")));
  EXPECT_NE(w.engine.LastRun().Message.find("256 columns"), std::string::npos);
  EXPECT_FALSE(quorvel::FileExists(dir.File("wide.xls")));
}

TEST(ExportNativeExcel, CursorLabelsAndFileName) {
  TkxNativeExcel x;
  x.BeginSheet();
  const std::size_t start = x.Stream().size();
  x.WriteLabel(std::string(300, 'a'));
  EXPECT_EQ(x.Stream().size() - start, 4u + 8 + 255);
  EXPECT_EQ(x.Column(), 2);
  x.SetColumn(256);
  x.WriteBlank();  // wraps to the next row
  EXPECT_EQ(x.Row(), 2);
  EXPECT_EQ(x.Column(), 1);
  x.SetRow(0);
  x.SetRow(70000);
  EXPECT_EQ(x.Row(), 2);
  x.MoveAfterEnter = maUp;
  x.SetRow(1);
  x.SetColumn(1);
  x.WriteBoolErr(3);  // stays: no column to the left
  EXPECT_EQ(x.Row(), 1);
  x.SetActiveFont(3);  // more than the fonts written: refused
  EXPECT_EQ(x.ActiveFont(), 0);
  x.EndSheet();
  x.WriteBlank();  // a record after the end starts a new file
  EXPECT_EQ(x.Stream().substr(0, 2), std::string("\x09\x08", 2));

  x.SetFileName("/r/report.xlsx");
  EXPECT_EQ(x.FileName(), "/r/report.xls");
  x.SetFileName("/r/Report.XLS");
  EXPECT_EQ(x.FileName(), "/r/Report.XLS");
  EXPECT_EQ(x.VersionText(), "1.23");
}

}  // namespace
