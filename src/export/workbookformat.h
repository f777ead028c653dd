// The Excel workbook report (.xlsx, Office Open XML), written with
// libxlsxwriter in its constant-memory mode: each row goes to disk as it is
// written, so memory does not grow with the number of rows.
//
// What the workbook holds: one sheet; the header text lines (if any) in
// column A; the header row of column titles, bold on the results grid's
// header colour, frozen so it stays in view, with an autofilter over the
// header and data rows; one row per exported grid row; the footer text lines
// (if any) in column A after one empty row. Columns keep the grid's order and
// visibility rules and get their layout width (at most kWorkbookColumnWidth
// characters). Cell values are the UTF-8 texts as the directory sent them
// (a byte that is not valid UTF-8 is taken as a Windows-1252 character, so
// one stray byte cannot make the whole file unreadable); a text is a number
// only by CellNumber (cellnumber.h), the rule the old Excel target follows
// too; a text starting with "=" stays text. A directory time in its readable
// form (timecells.h) is a date-time cell with the number format
// kWorkbookTimeFormat, so it sorts and filters as a date; one before
// kWorkbookFirstYear, which the format's dates do not reach, stays text.
//
// Limits, each refused with a TExportFailure whose message says which limit,
// so the engine reports the run as failed and leaves the destination as it was:
//   - more than kWorkbookDataRows rows or kWorkbookColumns columns: refused by
//     the engine before anything is written (WorkbookLimitMessage);
//   - a value longer than kWorkbookCellChars characters: refused when the row
//     is reached, naming the entry (the row's first cell) and the column.
// The workbook is completed in a temporary file in $TMPDIR (else /tmp) and
// copied into the engine's sink in Finish; it cannot go to a stream that is
// not a file only because the engine's caller says so (the writer itself
// copies to any sink).
#pragma once

#include <memory>
#include <string>

#include "export/writers.h"

namespace quorvel {

constexpr int kWorkbookDataRows = 1048575;  // below the header row
constexpr int kWorkbookColumns = 16384;
constexpr int kWorkbookCellChars = 32767;  // UTF-16 code units, as the format counts
constexpr int kWorkbookColumnWidth = 60;   // widest column set from a layout width
constexpr const char* kWorkbookTimeFormat = "yyyy-mm-dd hh:mm:ss";
constexpr int kWorkbookFirstYear = 1900;
// The header row's fill: the results grid's header colour.
constexpr unsigned kWorkbookHeaderColour = 0xC8C8C8;

// Empty when `rows` data rows of `columns` columns fit, else the refusal.
std::string WorkbookLimitMessage(long long rows, long long columns);

std::unique_ptr<TFormatWriter> MakeWorkbookWriter(TWriterContext& ctx);

}  // namespace quorvel
