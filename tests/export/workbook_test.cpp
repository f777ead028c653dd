// The Excel workbook target: its place in the dialog flow and the limits it
// refuses before writing. The cells themselves are read back by independent
// readers in the readers test.
#include <gtest/gtest.h>

#include "export/output.h"
#include "export/workbookformat.h"
#include "export_support.h"

using namespace quorvel::test;

namespace {

class ExportWorkbook : public ::testing::Test {
 protected:
  ExportTempDir dir;
};

TEST_F(ExportWorkbook, SaveDialogFilterAndDestinationName) {
  auto src = Table({"oid", "cn"}, {{"cn=a", "42"}});
  Exporter x(src, dir.Path());
  x.desktop.SelectTypeAnswer = xtXLSX;
  x.desktop.SaveAnswer = dir.File("report.xls");
  x.engine.RunExportDialog();
  EXPECT_EQ(x.desktop.LastSaveFilter, "Excel Workbook (*.xlsx)|*.XLSX");
  EXPECT_EQ(x.desktop.LastSaveExt, "XLSX");
  ASSERT_EQ(x.engine.LastRun().Result, TkxRunResult::roDone) << x.engine.LastRun().Message;
  EXPECT_EQ(x.engine.LastRun().Destination, dir.File("report.xlsx"));
  EXPECT_EQ(ReadAll(dir.File("report.xlsx")).substr(0, 2), "PK");  // a zip package
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"report.xlsx"});
}

TEST_F(ExportWorkbook, RefusesWhatASheetCannotHoldAndWritesNothing) {
  const std::string longValue(quorvel::kWorkbookCellChars + 1, 'v');
  std::vector<TkxValues> tooMany(quorvel::kWorkbookDataRows + 1, TkxValues{"r"});
  auto rows = Table({"oid"}, std::move(tooMany));
  auto wide = Table(std::vector<std::string>(quorvel::kWorkbookColumns + 1, "c"), {});
  auto cell = Table({"oid", "description"},
                    {{"cn=fits", std::string(32767, 'w')}, {"cn=too long", longValue}});
  const struct {
    TkxMemoryRowSource* source;
    const char* says;
  } cases[] = {
      {&rows, "1048576 rows and 1 columns, but an Excel workbook sheet holds at most 1048575"},
      {&wide,
       "16385 columns, but an Excel workbook sheet holds at most 1048575 data rows and "
       "16384 columns"},
      {&cell,
       "The value of the column \"description\" of the entry \"cn=too long\" has 32768 "
       "characters, more than the 32767 an Excel workbook cell holds."},
  };
  for (const auto& c : cases) {
    Exporter x(*c.source, dir.Path());
    WriteAll(dir.File("keep.xlsx"), "old");
    x.engine.ExportType = xtXLSX;
    EXPECT_FALSE(x.engine.ExportToPath(dir.File("keep.xlsx"))) << c.says;
    EXPECT_NE(x.engine.LastRun().Message.find(c.says), std::string::npos)
        << x.engine.LastRun().Message;
    EXPECT_EQ(ReadAll(dir.File("keep.xlsx")), "old");
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"keep.xlsx"});
  }
  // A character outside the basic plane counts twice, as the format counts it.
  auto astral = Table({"oid"}, {{std::string(quorvel::kWorkbookCellChars - 1, 'a') + "😀"}});
  Exporter x(astral, dir.Path());
  x.engine.ExportType = xtXLSX;
  EXPECT_FALSE(x.engine.ExportToPath(dir.File("astral.xlsx")));
}

TEST_F(ExportWorkbook, TheOldExcelTargetSuggestsTheWorkbookWhenFull) {
  auto src = Table({"oid"}, std::vector<TkxValues>(16384, TkxValues{"v"}));
  Exporter x(src, dir.Path());
  x.engine.ExportType = xtExcel;
  EXPECT_FALSE(x.engine.ExportToPath(dir.File("r.xls")));
  EXPECT_NE(x.engine.LastRun().Message.find("Excel Workbook (.xlsx)"), std::string::npos);
  x.engine.ExportType = xtXLSX;
  EXPECT_TRUE(x.engine.ExportToPath(dir.File("r.xlsx"))) << x.engine.LastRun().Message;
}

}  // namespace
