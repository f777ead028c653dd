// The interface between the engine's walk and the format writers. The engine
// decides which rows and columns go out and forms their texts; a writer lays
// them out. One module per group of formats implements it.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "export/kxexport.h"
#include "export/output.h"

namespace quorvel {

// Raised inside a run when writing cannot go on; the engine turns it into the
// general export error with this reason.
class TExportFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One cell of a formatted row.
struct TCell {
  int Index = 0;             // the grid column
  std::string Text;          // the cell text (titles, or the value after truncation)
  const std::string* Value;  // the stored value (the title for the header row)
  int Alignment = 0;         // 0 none, 1 left, 2 right, 3 centre (0 without alignments)
  int Width = 0;             // layout width (ColumnWidthFor)
  const std::string* WidthAttr = nullptr;  // the ColumnWidths entry, if any
};

struct TRow {
  bool Header = false;
  bool RowNumbers = false;  // a row-number cell comes first
  std::string RowNumber;    // its text (data rows)
  int Visited = 0;          // rows visited before this row
  std::vector<TCell> Cells;
  // The entry's exact values, indexed like the cells' Index (data rows of a
  // writer that WantsEntryValues).
  const TEntryValues* Entry = nullptr;
};

// What a writer may know about the run.
struct TWriterContext {
  TkxCustomExport* Engine = nullptr;
  TkxExportType Type = xtTXT;
  TByteSink* Sink = nullptr;
  int TotalRows = 0;
  int ColumnCount = 0;      // all columns of the source
  int ExportedColumns = 0;  // columns written
  std::size_t TotalTextWidth = 0;
  std::string RowNumberReference;   // the total row count in the row-number format
  std::vector<std::string> Titles;  // ColumnTitle(i) for every column
  std::vector<std::string> Names;   // ColumnName(i) for every column
  int SylkRow = 1;
  long long Replaced = 0;           // characters the format could not hold
  long long LineBreakCells = 0;     // cells whose line breaks were written as blanks (DIF)
  TkxNativeExcel* Excel = nullptr;  // the engine's spreadsheet writer (native Excel)
  std::string Destination;          // the file written; empty for a stream
  bool Has(TkxExportOption o) const { return Engine->Options.Has(o); }
};

class TFormatWriter {
 public:
  explicit TFormatWriter(TWriterContext& ctx) : ctx_(ctx) {}
  virtual ~TFormatWriter() = default;
  // True for a format that writes the entries' exact values: the engine then
  // gives each data row its TRow::Entry, and fails the run when the rows keep
  // no values.
  virtual bool WantsEntryValues() const { return false; }
  virtual void Preamble() {}
  // The header text lines (OnGetHeader).
  virtual void HeaderText(const std::vector<std::string>& lines) { (void)lines; }
  // The fixed prologue before the header row (Word, RTF).
  virtual void Prologue() {}
  virtual void HeaderRow(const TRow& row) { (void)row; }
  virtual void HeaderSeparator() {}
  // Opens the table when no header row did (HTML).
  virtual void OpenTable() {}
  virtual void DataRow(const TRow& row) = 0;
  virtual void CloseTable() {}
  // The footer text lines and the export date line (empty when off).
  virtual void Footer(const std::vector<std::string>& lines, const std::string& dateLine) {
    (void)lines;
    (void)dateLine;
  }
  // Puts everything out to the sink.
  virtual void Finish() = 0;

 protected:
  TWriterContext& ctx_;
};

// Text-line formats: LDIF, plain text, clipboard, CSV, tab-separated, DIF, SYLK.
std::unique_ptr<TFormatWriter> MakeTextWriter(TWriterContext& ctx);
// HTML, Word and RTF.
std::unique_ptr<TFormatWriter> MakeMarkupWriter(TWriterContext& ctx);
// Native Excel, through the engine's spreadsheet writer (ctx.Excel); refuses a
// report larger than a sheet holds.
std::unique_ptr<TFormatWriter> MakeExcelWriter(TWriterContext& ctx);
// The Excel workbook (export/workbookformat.h).
std::unique_ptr<TFormatWriter> MakeWorkbookWriter(TWriterContext& ctx);

// LDIF (RFC 2849), for import with directory tools (ldifformat.cpp).
std::unique_ptr<TFormatWriter> MakeLdifRecordWriter(TWriterContext& ctx);
// JSON Lines, one object per entry (jsonlformat.cpp).
std::unique_ptr<TFormatWriter> MakeJsonLinesWriter(TWriterContext& ctx);

// Rows an Excel sheet can hold below a first row at `startRow` (1-based).
int ExcelDataRowCapacity(int startRow);

}  // namespace quorvel

// Doubles every double quote; encloses the result in double quotes when `force`
// is set or the text holds a blank, a comma, a CR, a LF or a double quote.
std::string QuoteValue(const std::string& text, bool force);
// The same appended to `out`: a line of cells is built without a copy per cell.
void AppendQuotedValue(std::string& out, std::string_view text, bool force);
