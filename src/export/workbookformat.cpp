// The Excel workbook writer: see workbookformat.h.
#include "export/workbookformat.h"

#include <unistd.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <utility>

#include "export/cellnumber.h"
#include "export/output.h"
#include "export/removeonstop.h"
#include "export/textcodec.h"
#include "export/timecells.h"

namespace quorvel {
namespace {

// Length as the format counts it: characters outside the basic plane take two.
std::size_t Utf16Length(std::string_view s) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < s.size();) n += NextCodePoint(s, i) > 0xFFFF ? 2 : 1;
  return n;
}

// `text` as the XML of the workbook can hold it. A byte that is not part of a
// valid UTF-8 sequence would make the whole file unreadable: it is taken as a
// Windows-1252 character, as everywhere else in the program. The two
// non-characters XML excludes (U+FFFE, U+FFFF) are written in the format's
// own _xHHHH_ notation. Returns `text` itself when it needs no change.
const std::string& XmlText(const std::string& text, std::string& scratch) {
  bool clean = true;
  for (std::size_t i = 0; i < text.size() && clean;) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    const std::size_t start = i;
    const char32_t cp = NextCodePoint(text, i);
    clean = i - start > 1 && cp != 0xFFFE && cp != 0xFFFF;
  }
  if (clean) return text;
  scratch.clear();
  for (std::size_t i = 0; i < text.size();) {
    const char32_t cp = NextCodePoint(text, i);
    if (cp == 0xFFFE || cp == 0xFFFF)
      scratch += cp == 0xFFFE ? "_xFFFE_" : "_xFFFF_";
    else
      AppendUtf8(scratch, cp);
  }
  return scratch;
}

class TWorkbookWriter : public TFormatWriter {
 public:
  explicit TWorkbookWriter(TWriterContext& ctx) : TFormatWriter(ctx), times_(ctx.Titles) {}

  ~TWorkbookWriter() override {
    if (book_ != nullptr) lxw_workbook_free(book_);
    if (!folder_.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(folder_, ec);
    }
  }

  void Preamble() override {
    // The workbook and the library's own temporary files go in a private
    // folder, removed with whatever it holds should a signal stop the
    // program (export/removeonstop.h): the library makes and unlinks its
    // files itself, and a signal between the two would leave one behind.
    {
      THoldStopSignals hold;
      std::string pattern = TemporaryFolder() + "/.quorvel-workbook-XXXXXX";
      if (::mkdtemp(pattern.data()) != nullptr) {
        folder_ = pattern;
        removeOnStop_ = std::make_unique<TRemoveOnStop>(folder_, TRemoveOnStop::kWithFiles);
      }
    }
    if (folder_.empty())
      throw TExportFailure("The workbook could not be prepared in " + TemporaryFolder() + ": " +
                           std::strerror(errno));
    file_ = folder_ + "/book.xlsx";
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = folder_.data();
    book_ = workbook_new_opt(file_.c_str(), &options);
    if (book_ == nullptr) throw TExportFailure("The workbook could not be created.");
    sheet_ = workbook_add_worksheet(book_, nullptr);
    if (sheet_ == nullptr) throw TExportFailure("The workbook could not be created.");
    header_ = workbook_add_format(book_);
    format_set_bold(header_);
    format_set_pattern(header_, LXW_PATTERN_SOLID);
    format_set_bg_color(header_, kWorkbookHeaderColour);
    right_ = workbook_add_format(book_);
    format_set_align(right_, LXW_ALIGN_RIGHT);
    centre_ = workbook_add_format(book_);
    format_set_align(centre_, LXW_ALIGN_CENTER);
    for (int a = 0; a < 3; ++a) {
      time_[a] = workbook_add_format(book_);
      format_set_num_format(time_[a], kWorkbookTimeFormat);
    }
    format_set_align(time_[1], LXW_ALIGN_RIGHT);
    format_set_align(time_[2], LXW_ALIGN_CENTER);
  }

  void HeaderText(const std::vector<std::string>& lines) override {
    for (const std::string& l : lines) Text(row_++, 0, XmlText(l, scratch_), nullptr);
    if (!lines.empty()) ++row_;
  }

  void HeaderRow(const TRow& row) override {
    Columns(row);
    headerRow_ = row_;
    lxw_col_t col = 0;
    if (row.RowNumbers) worksheet_write_blank(sheet_, row_, col++, header_);
    for (const TCell& c : row.Cells) Text(row_, col++, XmlText(c.Text, scratch_), header_);
    worksheet_freeze_panes(sheet_, row_ + 1, 0);
    ++row_;
  }

  void DataRow(const TRow& row) override {
    if (firstData_ < 0) {
      Columns(row);
      firstData_ = row_;
    }
    lxw_col_t col = 0;
    if (row.RowNumbers) Value(col++, row.RowNumber, 0, nullptr);
    for (const TCell& c : row.Cells) {
      const std::string& text = XmlText(c.Text, scratch_);
      // A text no longer in bytes than the limit is within it in UTF-16 units.
      if (text.size() > static_cast<std::size_t>(kWorkbookCellChars) &&
          Utf16Length(text) > static_cast<std::size_t>(kWorkbookCellChars)) {
        std::string entry = row.Cells.empty() ? std::string() : row.Cells.front().Text;
        if (CharCount(entry) > 200) entry = std::string(CharPrefix(entry, 200)) + "...";
        throw TExportFailure("The value of the column \"" + ctx_.Titles[c.Index] +
                             "\" of the entry \"" + entry + "\" has " +
                             std::to_string(CharCount(text)) + " characters, more than the " +
                             std::to_string(kWorkbookCellChars) +
                             " an Excel workbook cell holds. Nothing was written; choose "
                             "another format such as CSV or HTML.");
      }
      TCivilTime t;
      if (times_.Time(row, c, t) && t.year >= kWorkbookFirstYear)
        Time(col++, t, c.Alignment);
      else
        Value(col++, text, c.Alignment, nullptr);
    }
    lastData_ = row_;
    ++row_;
  }

  void Footer(const std::vector<std::string>& lines, const std::string&) override {
    if (lines.empty()) return;
    ++row_;
    for (const std::string& l : lines) Text(row_++, 0, XmlText(l, scratch_), nullptr);
  }

  void Finish() override {
    // The filter covers the header row and the data rows below it.
    const long long first = headerRow_ >= 0 ? headerRow_ : firstData_;
    const long long last = lastData_ >= 0 ? lastData_ : first;
    if (first >= 0 && columns_ > 0)
      worksheet_autofilter(sheet_, static_cast<lxw_row_t>(first), 0, static_cast<lxw_row_t>(last),
                           static_cast<lxw_col_t>(columns_ - 1));
    // Closing frees the workbook, whatever the outcome.
    Check(workbook_close(std::exchange(book_, nullptr)));
    CopyToSink();
  }

 private:
  // Column widths go out before the first row (the constant-memory mode
  // writes them ahead of the rows).
  void Columns(const TRow& row) {
    if (columns_ >= 0) return;
    columns_ = 0;
    if (row.RowNumbers) {
      const double w = std::max<std::size_t>(CharCount(ctx_.RowNumberReference), 4);
      worksheet_set_column(sheet_, 0, 0, w, nullptr);
      ++columns_;
    }
    for (const TCell& c : row.Cells) {
      const int w = std::clamp(c.Width, 4, kWorkbookColumnWidth);
      worksheet_set_column(sheet_, static_cast<lxw_col_t>(columns_),
                           static_cast<lxw_col_t>(columns_), w, nullptr);
      ++columns_;
    }
  }

  void Text(lxw_row_t r, lxw_col_t c, const std::string& text, lxw_format* f) {
    if (text.empty()) {
      if (f != nullptr) worksheet_write_blank(sheet_, r, c, f);
      return;
    }
    Check(worksheet_write_string(sheet_, r, c, text.c_str(), f));
  }

  void Value(lxw_col_t c, const std::string& text, int alignment, lxw_format* f) {
    if (ctx_.Has(xoUseAlignments)) {
      if (alignment == 2) f = right_;
      if (alignment == 3) f = centre_;
    }
    double number = 0;
    if (CellNumber(text, number))
      Check(worksheet_write_number(sheet_, row_, c, number, f));
    else
      Text(row_, c, text, f);
  }

  // A directory time as a date-time cell, aligned like any other cell.
  void Time(lxw_col_t c, const TCivilTime& t, int alignment) {
    lxw_datetime when{t.year, t.month, t.day, t.hour, t.minute, static_cast<double>(t.second)};
    lxw_format* f = time_[0];
    if (ctx_.Has(xoUseAlignments) && (alignment == 2 || alignment == 3)) f = time_[alignment - 1];
    Check(worksheet_write_datetime(sheet_, row_, c, &when, f));
  }

  static void Check(lxw_error e) {
    if (e != LXW_NO_ERROR)
      throw TExportFailure(std::string("The workbook could not be written: ") + lxw_strerror(e));
  }

  void CopyToSink() {
    std::FILE* in = std::fopen(file_.c_str(), "rb");
    if (in == nullptr)
      throw TExportFailure("The workbook could not be read back: " +
                           std::string(std::strerror(errno)));
    std::string chunk(1 << 20, '\0');
    bool ok = true;
    std::size_t n;
    while (ok && (n = std::fread(chunk.data(), 1, chunk.size(), in)) > 0)
      ok = ctx_.Sink->Write(std::string_view(chunk.data(), n));
    const bool readError = std::ferror(in) != 0;
    std::fclose(in);
    if (!ok) throw TExportFailure(ctx_.Sink->Error());
    if (readError) throw TExportFailure("The workbook could not be read back.");
  }

  std::string folder_, file_;                    // the private folder; the workbook in it
  std::unique_ptr<TRemoveOnStop> removeOnStop_;  // folder_, while it exists
  std::string scratch_;                          // a cell text as XmlText changed it
  lxw_workbook* book_ = nullptr;
  lxw_worksheet* sheet_ = nullptr;
  lxw_format* header_ = nullptr;
  lxw_format* right_ = nullptr;
  lxw_format* centre_ = nullptr;
  lxw_format* time_[3] = {};  // time cells: no alignment, right, centre
  TTimeCells times_;
  lxw_row_t row_ = 0;
  long long headerRow_ = -1, firstData_ = -1, lastData_ = -1;
  int columns_ = -1;
};

}  // namespace

std::string WorkbookLimitMessage(long long rows, long long columns) {
  if (rows <= kWorkbookDataRows && columns <= kWorkbookColumns) return {};
  return "The report has " + std::to_string(rows) + " rows and " + std::to_string(columns) +
         " columns, but an Excel workbook sheet holds at most " +
         std::to_string(kWorkbookDataRows) + " data rows and " + std::to_string(kWorkbookColumns) +
         " columns. Nothing was written; choose another format such as CSV.";
}

std::unique_ptr<TFormatWriter> MakeWorkbookWriter(TWriterContext& ctx) {
  const int columns = ctx.ExportedColumns + (ctx.Has(xoRowNumbers) ? 1 : 0);
  // Rows the hooks leave out only lower the count: a count within the limits
  // stays within them.
  if (std::string refusal = WorkbookLimitMessage(ctx.TotalRows, columns); !refusal.empty())
    throw TExportFailure(refusal);
  return std::make_unique<TWorkbookWriter>(ctx);
}

}  // namespace quorvel
