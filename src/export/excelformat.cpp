// The Excel report: drives TkxNativeExcel through the walk. Labels are written
// in Windows-1252 (the code page the file declares); characters outside it
// become "?" and are counted for the caller.
#include <cmath>

#include "export/cellnumber.h"
#include "export/nativeexcel.h"
#include "export/textcodec.h"
#include "export/writers.h"

namespace quorvel {
namespace {

class TExcelWriter : public TFormatWriter {
 public:
  TExcelWriter(TWriterContext& ctx, TkxNativeExcel& x) : TFormatWriter(ctx), x_(x) {}

  void Preamble() override {
    const TkxExcelOptions& o = ctx_.Engine->EXCEL;
    x_.MoveAfterEnter = maRight;
    x_.SetColumn(1);
    x_.SetRow(1);
    x_.Borders = {};
    x_.Alignment = eaGeneral;
    x_.Shading = false;
    x_.Hidden = false;
    x_.Locked = true;
    x_.BIFF = static_cast<TkxBIFFVersion>(o.ExcelVersion);
    x_.BeginSheet();
    x_.WriteCodePage(1252);
    x_.SetActiveFont(0);
    x_.WriteFont(&o.DefaultFont);
    x_.WriteFont(&o.HeaderFont);
    x_.WriteFont(&o.TableFont);
    x_.WriteCellFormat();
    if (!o.Header.empty()) x_.WriteHeaderText(Label(o.Header));
    if (!o.Footer.empty()) x_.WriteFooterText(Label(o.Footer));
    if (o.Options.Has(reSetMargins)) {
      x_.WriteMargin(msLeft, o.LeftMargin);
      x_.WriteMargin(msBottom, o.BottomMargin);
      x_.WriteMargin(msTop, o.TopMargin);
      x_.WriteMargin(msRight, o.RightMargin);
    }
    if (o.Options.Has(reSetColumnWidths)) x_.WriteColumnWidth(0, 255, o.ColumnWidth * 256);
  }

  void HeaderText(const std::vector<std::string>& lines) override {
    if (lines.empty()) return;
    x_.MoveAfterEnter = maDown;
    x_.SetActiveFont(0);
    x_.Borders = {};
    for (const std::string& l : lines) x_.WriteLabel(Label(l));
    x_.WriteBlank();
    x_.MoveAfterEnter = maRight;
    // The header row starts at the cursor, in column A.
    x_.SetColumn(1);
  }

  void HeaderRow(const TRow& row) override {
    if (row.RowNumbers) {
      x_.SetActiveFont(1);
      x_.WriteBlank();
    }
    for (const TCell& c : row.Cells) Cell(c, 1);
  }

  void DataRow(const TRow& row) override {
    if (x_.Row() >= TkxNativeExcel::kSheetRows)
      throw TExportFailure(
          "An Excel sheet of this format holds at most " +
          std::to_string(TkxNativeExcel::kSheetRows) +
          " rows; choose another format such as Excel Workbook (.xlsx), CSV or HTML.");
    x_.SetRow(x_.Row() + 1);
    x_.SetColumn(1);
    if (row.RowNumbers) {
      x_.SetActiveFont(2);
      x_.Borders = CellBorders();
      double n = 0;
      if (ctx_.Engine->EXCEL.Options.Has(reCellsAsText) || !CellNumber(row.RowNumber, n))
        x_.WriteLabel(Label(row.RowNumber));
      else if (n == std::floor(n))
        WriteWhole(static_cast<long long>(n));
      else
        x_.WriteNumber(n);
    }
    for (const TCell& c : row.Cells) Cell(c, 2);
  }

  void Footer(const std::vector<std::string>& lines, const std::string&) override {
    x_.SetRow(x_.Row() + 2);
    x_.MoveAfterEnter = maDown;
    x_.SetColumn(1);
    x_.SetActiveFont(0);
    x_.Borders = {};
    for (const std::string& l : lines) x_.WriteLabel(Label(l));
  }

  void Finish() override {
    if (ctx_.Engine->EXCEL.Protected) x_.WriteProtect(true);
    x_.EndSheet();
    if (!ctx_.Sink->Write(x_.Stream())) throw TExportFailure(ctx_.Sink->Error());
  }

 private:
  // The integer record holds 0..65535 only; any other whole number goes into a
  // number record, so that no value is cut to its low 16 bits.
  void WriteWhole(long long n) {
    if (n >= 0 && n <= 0xFFFF)
      x_.WriteInteger(static_cast<int>(n));
    else
      x_.WriteNumber(static_cast<double>(n));
  }

  TkxSet<TkxExcelBorder> CellBorders() const {
    if (ctx_.Engine->EXCEL.Options.Has(reUseBorders)) return {ebTop, ebBottom, ebLeft, ebRight};
    return {};
  }

  std::string Label(const std::string& utf8) { return Utf8ToWindows1252(utf8, ctx_.Replaced); }

  void Cell(const TCell& c, int font) {
    x_.SetActiveFont(font);
    static constexpr TkxExcelAlignment kAlign[] = {eaGeneral, eaLeft, eaRight, eaCenter};
    if (ctx_.Has(xoUseAlignments))
      x_.Alignment = kAlign[c.Alignment >= 0 && c.Alignment <= 3 ? c.Alignment : 0];
    x_.Borders = CellBorders();
    double number = 0;
    if (!ctx_.Engine->EXCEL.Options.Has(reCellsAsText) && CellNumber(c.Text, number))
      x_.WriteNumber(number);
    else
      x_.WriteLabel(Label(c.Text));
    x_.Alignment = eaGeneral;
  }

  TkxNativeExcel& x_;
};

}  // namespace

int ExcelDataRowCapacity(int startRow) {
  return TkxNativeExcel::kSheetRows - startRow;
}

std::unique_ptr<TFormatWriter> MakeExcelWriter(TWriterContext& ctx) {
  const int columns = ctx.ExportedColumns + (ctx.Has(xoRowNumbers) ? 1 : 0);
  const int capacity = ExcelDataRowCapacity(1);
  // Refused before anything is written. When rows may be left out (selected
  // rows only, or the row hook), the count is only known during the walk:
  // the writer then stops at the sheet's last row, and the destination is
  // left untouched all the same.
  const bool rowsMayBeSkipped = ctx.Has(xoSelectedRowsOnly) || ctx.Engine->OnExport != nullptr;
  if (columns > 256 || (!rowsMayBeSkipped && ctx.TotalRows > capacity)) {
    throw TExportFailure(
        "The report has " + std::to_string(ctx.TotalRows) + " rows and " + std::to_string(columns) +
        " columns, but an Excel sheet of this format holds at most " + std::to_string(capacity) +
        " data rows and 256 columns. Nothing was written; choose another format such as "
        "Excel Workbook (.xlsx), CSV or HTML.");
  }
  ctx.Excel->SetFileName(ctx.Destination.empty() ? std::string("report.xls") : ctx.Destination);
  return std::make_unique<TExcelWriter>(ctx, *ctx.Excel);
}

}  // namespace quorvel
