#include "export/kxexport.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <locale>
#include <sstream>
#include <iomanip>

#include "export/nativeexcel.h"
#include "export/output.h"
#include "export/textcodec.h"
#include "export/workbookformat.h"
#include "export/writers.h"

using quorvel::TCell;
using quorvel::TExportFailure;
using quorvel::TRow;
using quorvel::TWriterContext;

namespace {

// Length of the sample moment 12 December 1999 12:12:12.012 in a date-time
// format; only the length matters for the column width.
std::size_t SampleMomentLength(const std::string& format, const char* systemSpec) {
  if (format.empty()) {
    std::tm t{};
    t.tm_year = 99;
    t.tm_mon = 11;
    t.tm_mday = 12;
    t.tm_hour = 12;
    t.tm_min = 12;
    t.tm_sec = 12;
    char buf[128];
    return std::strftime(buf, sizeof buf, systemSpec, &t);
  }
  std::size_t len = 0;
  std::size_t i = 0;
  auto starts = [&](const char* tok) {
    return quorvel::EqualsNoCase(std::string_view(format).substr(i, std::strlen(tok)), tok);
  };
  while (i < format.size()) {
    if (starts("yyyy")) {
      len += 4;
      i += 4;
    } else if (starts("yy")) {
      len += 2;
      i += 2;
    } else if (starts("mmmm")) {
      len += 8;
      i += 4;
    } else if (starts("mmm")) {
      len += 3;
      i += 3;
    } else if (starts("ampm")) {
      len += 2;
      i += 4;
    } else if (starts("am/pm")) {
      len += 2;
      i += 5;
    } else if (starts("a/p")) {
      len += 1;
      i += 3;
    } else if (starts("zzz")) {
      len += 3;
      i += 3;
    } else if (starts("dddd")) {
      len += 6;
      i += 4;
    } else if (starts("ddd")) {
      len += 3;
      i += 3;
    } else if (std::strchr("dDmMhHnNsS", format[i]) != nullptr) {
      const char c = format[i];
      i += (i + 1 < format.size() && format[i + 1] == c) ? 2 : 1;
      len += 2;  // every field of the sample moment has two digits
    } else if (format[i] == '"' || format[i] == '\'') {
      const char q = format[i++];
      while (i < format.size() && format[i] != q) {
        ++len;
        ++i;
      }
      ++i;
    } else {
      ++len;
      ++i;
    }
  }
  return len;
}

}  // namespace

// ---------------------------------------------------------------- helpers

std::string PadRight(const std::string& text, char c, std::size_t width) {
  const std::size_t n = quorvel::CharCount(text);
  if (n >= width) return text;
  std::string r;
  r.reserve(text.size() + width - n);
  r += text;
  r.append(width - n, c);
  return r;
}

std::string PadLeft(const std::string& text, char c, std::size_t width) {
  const std::size_t n = quorvel::CharCount(text);
  if (n >= width) return text;
  std::string r(width - n, c);
  r += text;
  return r;
}

std::string PadCenter(const std::string& text, std::size_t width) {
  const std::size_t n = quorvel::CharCount(text);
  if (n >= width) return text;
  const std::size_t left = (width - n) / 2;
  std::string r(left, ' ');
  r += text;
  r.append(width - n - left, ' ');
  return r;
}

std::string RepeatChar(char c, std::size_t n) {
  return std::string(n, c);
}

bool IsLink(const std::string& text) {
  for (const char* scheme : {"http:", "https:", "ftp:", "news:", "nntp:", "mailto:"})
    if (text.find(scheme) != std::string::npos) return true;
  return false;
}

bool FormatRowNumber(const std::string& format, int number, std::string& out) {
  out.clear();
  bool used = false;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      out += format[i];
      continue;
    }
    if (i + 1 < format.size() && format[i + 1] == '%') {
      out += '%';
      ++i;
    } else if (i + 1 < format.size() && format[i + 1] == 'd' && !used) {
      out += std::to_string(number);
      used = true;
      ++i;
    } else {
      return false;
    }
  }
  return used;
}

std::string ReplacedCharactersNotice(const TkxRunResult& run) {
  if (run.LineBreakCells > 0)
    return std::to_string(run.LineBreakCells) +
           (run.LineBreakCells == 1 ? " cell holds" : " cells hold") +
           " line breaks, written as blanks in the DIF report; export as CSV or HTML to keep "
           "them.";
  if (run.Replaced <= 0) return {};
  return std::to_string(run.Replaced) + (run.Replaced == 1 ? " character" : " characters") +
         " outside the Western (Windows-1252) character set " +
         (run.Replaced == 1 ? "was" : "were") +
         " written as \"?\" in the Excel report; export as CSV or HTML to keep them.";
}

std::string LocalDateTimeText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::ostringstream s;
  try {
    s.imbue(std::locale(""));
  } catch (const std::exception&) {
    s.imbue(std::locale::classic());
  }
  s << std::put_time(&local, "%x %X");
  return s.str();
}

// ---------------------------------------------------------------- formats

const std::vector<TkxFormatInfo>& ExportFormatTable() {
  static const std::vector<TkxFormatInfo> table = {
      {xtHTML, "HTML", "HTML", 2},
      {xtWord, "Microsoft Word", "DOC", 4},
      {xtExcel, "Microsoft Excel", "XLS", 5},
      {xtTXT, "Text", "TXT", 3},
      {xtRTF, "Rich Text", "RTF", 0},
      {xtLDIF, "LDIF", "LDIF", 3},
      {xtCSV, "Comma-Separated Text", "CSV", 1},
      {xtTAB, "Tab-Separated Text", "TXT", 6},
      {xtDIF, "Data Interchange Format", "DIF", 6},
      {xtSYLK, "SYLK Format", "SLK", 6},
      {xtClipboard, "Clipboard", "TMP", 7},
      {xtXLSX, "Excel Workbook", "XLSX", 8},
  };
  return table;
}

const TkxFormatInfo& ExportFormatInfo(TkxExportType type) {
  for (const TkxFormatInfo& f : ExportFormatTable())
    if (f.Type == type) return f;
  return ExportFormatTable().front();
}

namespace {

std::string FormatExtension(const TkxCustomExport& e, TkxExportType t) {
  if (t == xtHTML && e.HTML.Extension == exHTM) return "HTM";
  return ExportFormatInfo(t).Extension;
}

const std::string& FilterLabel(const TkxCustomExport& e, TkxExportType t) {
  static const std::string none;
  const TkxDocumentFilter& f = e.Messages.DocumentFilter;
  switch (t) {
    case xtLDIF:
      return f.LDIF;
    case xtHTML:
      return f.HTML;
    case xtExcel:
      return f.Excel;
    case xtWord:
      return f.Word;
    case xtTXT:
      return f.Text;
    case xtCSV:
      return f.Comma;
    case xtTAB:
      return f.Tab;
    case xtRTF:
      return f.RTF;
    case xtDIF:
      return f.DIF;
    case xtSYLK:
      return f.SYLK;
    case xtXLSX:
      return f.XLSX;
    default:
      return none;
  }
}

}  // namespace

// ---------------------------------------------------------------- desktop

bool TkxHeadlessDesktop::SelectFormat(TkxCustomExport& engine) {
  if (SelectTypeAnswer >= 0) engine.ExportType = static_cast<TkxExportType>(SelectTypeAnswer);
  if (SelectStyleAnswer >= 0) engine.ExportStyle = static_cast<TkxExportStyle>(SelectStyleAnswer);
  return SelectAnswer;
}

std::string TkxHeadlessDesktop::SaveFileName(const std::string& title, const std::string& filter,
                                             const std::string& defaultExt,
                                             const std::string& initialDir) {
  ++SaveDialogs;
  LastSaveTitle = title;
  LastSaveFilter = filter;
  LastSaveExt = defaultExt;
  LastSaveDir = initialDir;
  return SaveAnswer;
}

bool TkxHeadlessDesktop::SetClipboardText(std::string text) {
  if (!ClipboardWorks) return false;
  Clipboard = std::move(text);
  return true;
}

bool TkxHeadlessDesktop::OpenFile(const std::string& path) {
  Opened.push_back(path);
  return OpenWorks;
}

void TkxHeadlessDesktop::ShowProgress(const TkxMessagesOptions&, int total) {
  ++ProgressShown;
  ProgressTotal = total;
  ProgressPosition = 0;
  ProgressVisible = true;
}

void TkxHeadlessDesktop::Information(const std::string&, const std::string& text) {
  Informations.push_back(text);
}

void TkxHeadlessDesktop::ErrorBox(const std::string&, const std::string& text) {
  Errors.push_back(text);
}

// ---------------------------------------------------------------- engine

struct TkxCustomExport::Target {
  enum Kind { tkFile, tkExactFile, tkStream } kind = tkFile;
  std::string path;
  std::FILE* stream = nullptr;
};

TkxCustomExport::TkxCustomExport()
    : ExportTypes(TkxExportTypes::FromBits((1u << kxExportTypeCount) - 1)),
      NowText(LocalDateTimeText),
      ownDesktop_(std::make_unique<TkxHeadlessDesktop>()),
      excel_(std::make_unique<TkxNativeExcel>()) {
  desktop_ = ownDesktop_.get();
  tempDir_ = quorvel::TemporaryFolder();
}

TkxCustomExport::~TkxCustomExport() = default;

void TkxCustomExport::SetDesktop(TkxExportDesktop* desktop) {
  desktop_ = desktop != nullptr ? desktop : ownDesktop_.get();
}

std::string TkxCustomExport::VersionText() const {
  return std::to_string(Version() >> 8) + "." + std::to_string(Version() & 0xFF);
}

void TkxCustomExport::SetRowNumberFormat(const std::string& format) {
  if (format.find("%d") == std::string::npos) {
    desktop_->ErrorBox(Messages.Caption, "The format has to contain %d string.");
    return;
  }
  rowNumberFormat_ = format;
}

void TkxCustomExport::SetTempDir(const std::string& folder) {
  auto norm = [](std::string s) {
    if (s.size() > 1 && (s.back() == '/' || s.back() == '\\') && !(s.size() == 3 && s[1] == ':'))
      s.pop_back();
    return quorvel::AsciiLower(s);
  };
  if (norm(folder) != norm(tempDir_)) tempDir_ = folder;
}

void TkxCustomExport::Fail(TkxExportError error) {
  if (OnError) OnError(*this, error);
}

int TkxCustomExport::ColumnWidthFor(int i) {
  if (i >= 0 && static_cast<std::size_t>(i) < ColumnWidths.size()) {
    const std::string& s = ColumnWidths[i];
    int v = 0;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec == std::errc() && p == s.data() + s.size() && !s.empty()) return v;
  }
  return ColumnWidth(i);
}

std::string TkxCustomExport::FormatCellText(int i, const std::string& value) {
  if (Options.Has(xoTruncate)) {
    const int w = ColumnWidthFor(i);
    if (w > 0 && static_cast<std::size_t>(w) < quorvel::CharCount(value)) {
      const std::size_t k = quorvel::CharCount(TruncateSymbol);
      const std::size_t keep = static_cast<std::size_t>(w) > k ? w - k : 0;
      return std::string(quorvel::CharPrefix(value, keep)) + TruncateSymbol;
    }
  }
  return value;
}

std::string TkxCustomExport::ExportDateLine() {
  return Messages.CreatedText + " " + (NowText ? NowText() : LocalDateTimeText());
}

void TkxCustomExport::RunExportDialog() {
  lastRun_ = TkxRunResult();
  ExportTypes.Include(ExportType);
  if (!desktop_->SelectFormat(*this)) {
    lastRun_.Result = TkxRunResult::roCancelled;
    return;
  }
  if (FileName.empty() && ExportStyle == xsFile) {
    const std::string ext = FormatExtension(*this, ExportType);
    const std::string& label = FilterLabel(*this, ExportType);
    const std::string filter = label + " (*." + quorvel::AsciiLower(ext) + ")|*." + ext;
    const std::string chosen = desktop_->SaveFileName(Messages.SaveTitle, filter, ext, InitialDir);
    if (chosen.empty()) {
      lastRun_.Result = TkxRunResult::roCancelled;
      Fail(xeUserCancelled);
      return;
    }
    FileName = chosen;
  }
  ExportToTarget();
}

void TkxCustomExport::ExportToTarget() {
  RunTo(Target{});
}

bool TkxCustomExport::ExportToPath(const std::string& path) {
  Target t;
  t.kind = Target::tkExactFile;
  t.path = path;
  return RunTo(t);
}

bool TkxCustomExport::ExportToStream(std::FILE* stream) {
  Target t;
  t.kind = Target::tkStream;
  t.stream = stream;
  return RunTo(t);
}

bool TkxCustomExport::RunTo(const Target& target) {
  lastRun_ = TkxRunResult();
  if (!IsReady()) {
    lastRun_.Result = TkxRunResult::roFailed;
    lastRun_.Message = "There is nothing to export: no result rows are open.";
    Fail(xeComponentIsNull);
    return false;
  }
  BeginWalk();
  Target t = target;
  bool viewIt = false;
  if (t.kind == Target::tkFile) {
    if (FileName.empty() && ExportStyle == xsFile) {
      lastRun_.Result = TkxRunResult::roFailed;
      lastRun_.Message = "No file name was given for the report.";
      Fail(xeInvalidFileName);
      EndWalk();
      return false;
    }
    std::string ext = FormatExtension(*this, ExportType);
    if (OnGetExtension) OnGetExtension(*this, ext);
    if (ExportStyle == xsView) {
      t.path = quorvel::TemporaryReportName(tempDir_, ext);
      viewIt = ExportType != xtClipboard;
    } else {
      t.path = quorvel::DestinationName(FileName, ext);
    }
  }
  WriteExport(t);
  if (viewIt && lastRun_.Result == TkxRunResult::roDone)
    lastRun_.ViewFailed = !desktop_->OpenFile(t.path);
  EndWalk();
  return lastRun_.Result == TkxRunResult::roDone;
}

void TkxCustomExport::WriteExport(const Target& target) {
  if (OnBeginExport) OnBeginExport(*this);
  const bool toClipboard = ExportType == xtClipboard && target.kind == Target::tkFile;
  lastRun_.Destination = toClipboard ? std::string() : target.path;
  bool progress = false;
  TkxValues values;
  try {
    TWriterContext ctx;
    ctx.Engine = this;
    ctx.Type = ExportType;
    ctx.TotalRows = CountRows();
    if (Options.Has(xoShowProgress)) {
      desktop_->ShowProgress(Messages, ctx.TotalRows);
      progress = true;
    }
    if (target.kind != Target::tkStream && !toClipboard && quorvel::FileExists(target.path)) {
      bool canOverWrite = true;
      if (OnFileExist) OnFileExist(*this, target.path, canOverWrite);
      if (!canOverWrite) {
        Fail(xeFileExist);
        throw TExportFailure("The file \"" + target.path + "\" exists and was not replaced.");
      }
    }
    rowsVisited_ = 0;
    int rowsExported = 0;
    FirstRow();
    ctx.ColumnCount = ColumnCount();
    if (ctx.ColumnCount == 0) {
      if (progress) desktop_->HideProgress();
      lastRun_.Result = TkxRunResult::roFailed;
      lastRun_.Message = "The result has no columns: nothing was written.";
      return;
    }

    // The columns that go out, their layout facts and the row-number reference.
    std::vector<int> exported;
    std::vector<TCell> cellTemplate;
    for (int i = 0; i < ctx.ColumnCount; ++i) {
      ctx.Titles.push_back(ColumnTitle(i));
      if (!Options.Has(xoExportInvisibles) && !ColumnVisible(i)) continue;
      exported.push_back(i);
      TCell c;
      c.Index = i;
      c.Alignment = Options.Has(xoUseAlignments) ? ColumnAlignment(i) : 0;
      c.Width = ColumnWidthFor(i);
      if (static_cast<std::size_t>(i) < ColumnWidths.size()) c.WidthAttr = &ColumnWidths[i];
      cellTemplate.push_back(c);
    }
    ctx.ExportedColumns = static_cast<int>(exported.size());
    std::string rowFormat = rowNumberFormat_;
    if (!FormatRowNumber(rowFormat, ctx.TotalRows, ctx.RowNumberReference)) {
      rowFormat = "%d";
      FormatRowNumber(rowFormat, ctx.TotalRows, ctx.RowNumberReference);
    }
    std::size_t width = 0;
    for (const TCell& c : cellTemplate) width += static_cast<std::size_t>(std::max(c.Width, 0));
    if (Options.Has(xoRowNumbers))
      width += ctx.ColumnCount + quorvel::CharCount(ctx.RowNumberReference);
    else
      width += ctx.ColumnCount - 1;
    ctx.TotalTextWidth = width;

    // Where the bytes go.
    std::unique_ptr<quorvel::TByteSink> sink;
    if (target.kind == Target::tkStream)
      sink = std::make_unique<quorvel::TStreamSink>(target.stream);
    else if (toClipboard) {
      auto text = std::make_unique<quorvel::TStringSink>();
      // Every line of the plain text is the total width plus CR LF.
      text->Reserve((ctx.TotalTextWidth + 2) * (static_cast<std::size_t>(ctx.TotalRows) + 3) +
                    4096);
      sink = std::move(text);
    } else
      sink = std::make_unique<quorvel::TAtomicFileSink>(target.path);
    if (!sink->Error().empty()) throw TExportFailure(sink->Error());
    ctx.Sink = sink.get();

    std::unique_ptr<quorvel::TFormatWriter> writer;
    if (ExportType == xtExcel) {
      const int columns = ctx.ExportedColumns + (Options.Has(xoRowNumbers) ? 1 : 0);
      const int capacity = quorvel::ExcelDataRowCapacity(1);
      // Refused before anything is written. When rows may be left out (selected
      // rows only, or the row hook), the count is only known during the walk:
      // the writer then stops at the sheet's last row, and the destination is
      // left untouched all the same.
      const bool rowsMayBeSkipped = Options.Has(xoSelectedRowsOnly) || OnExport != nullptr;
      if (columns > 256 || (!rowsMayBeSkipped && ctx.TotalRows > capacity)) {
        throw TExportFailure(
            "The report has " + std::to_string(ctx.TotalRows) + " rows and " +
            std::to_string(columns) + " columns, but an Excel sheet of this format holds at most " +
            std::to_string(capacity) +
            " data rows and 256 columns. Nothing was written; choose another format such as "
            "Excel Workbook (.xlsx), CSV or HTML.");
      }
      excel_->SetFileName(target.kind == Target::tkStream ? std::string("report.xls")
                                                          : target.path);
      writer = quorvel::MakeExcelWriter(ctx, *excel_);
    } else if (ExportType == xtXLSX) {
      const int columns = ctx.ExportedColumns + (Options.Has(xoRowNumbers) ? 1 : 0);
      // Rows the hooks leave out only lower the count: a count within the
      // limits stays within them.
      if (std::string refusal = quorvel::WorkbookLimitMessage(ctx.TotalRows, columns);
          !refusal.empty())
        throw TExportFailure(refusal);
      writer = quorvel::MakeWorkbookWriter(ctx);
    } else if (ExportType == xtHTML || ExportType == xtWord || ExportType == xtRTF) {
      writer = quorvel::MakeMarkupWriter(ctx);
    } else {
      writer = quorvel::MakeTextWriter(ctx);
    }

    auto splitLines = [](const std::string& text) {
      std::vector<std::string> lines;
      std::size_t start = 0;
      while (start < text.size()) {
        std::size_t i = text.find_first_of("\r\n", start);
        if (i == std::string::npos) {
          lines.push_back(text.substr(start));
          break;
        }
        lines.push_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
      }
      return lines;
    };

    writer->Preamble();
    std::string header;
    if (OnGetHeader) OnGetHeader(*this, ctx.TotalRows, header);
    writer->HeaderText(splitLines(header));
    writer->Prologue();

    TRow row;
    row.RowNumbers = Options.Has(xoRowNumbers);
    row.Cells = cellTemplate;
    if (Options.Has(xoShowHeader)) {
      row.Header = true;
      for (TCell& c : row.Cells) {
        // Titles are cell texts like any other: cut to the column width too.
        c.Text = FormatCellText(c.Index, static_cast<std::size_t>(c.Index) < Captions.size()
                                             ? Captions[c.Index]
                                             : ctx.Titles[c.Index]);
        c.Value = &c.Text;
      }
      writer->HeaderRow(row);
      ++ctx.SylkRow;
    }
    writer->HeaderSeparator();
    if (!Options.Has(xoShowHeader)) writer->OpenTable();

    row.Header = false;
    while (!AtEnd()) {
      ReadRow(values);
      bool canExport = true;
      if (Options.Has(xoSelectedRowsOnly)) canExport = RowSelected();
      if (OnExport) OnExport(*this, rowsVisited_, ctx.TotalRows, values, canExport);
      if (progress) desktop_->SetProgress(rowsVisited_);
      if (canExport) {
        row.Visited = rowsVisited_;
        if (row.RowNumbers && !FormatRowNumber(rowFormat, rowsExported + 1, row.RowNumber))
          FormatRowNumber("%d", rowsExported + 1, row.RowNumber);
        for (TCell& c : row.Cells) {
          const std::size_t k = static_cast<std::size_t>(c.Index);
          static const std::string empty;
          c.Value = k < values.size() ? &values[k] : &empty;
          if (Options.Has(xoTruncate))
            c.Text = FormatCellText(c.Index, *c.Value);
          else
            c.Text.assign(*c.Value);
        }
        writer->DataRow(row);
        ++ctx.SylkRow;
        ++rowsExported;
      }
      ++rowsVisited_;
    }
    writer->CloseTable();
    std::string footer;
    if (OnGetFooter) OnGetFooter(*this, ctx.TotalRows, footer);
    writer->Footer(splitLines(footer),
                   Options.Has(xoShowExportDate) ? ExportDateLine() : std::string());
    writer->Finish();
    lastRun_.Replaced = ctx.Replaced;
    lastRun_.LineBreakCells = ctx.LineBreakCells;
    lastRun_.RowsExported = rowsExported;

    if (!sink->Commit()) throw TExportFailure(sink->Error());
    if (toClipboard) {
      auto* text = static_cast<quorvel::TStringSink*>(sink.get());
      if (!desktop_->SetClipboardText(text->Take()))
        throw TExportFailure("The clipboard could not take the report.");
      if (progress) {
        desktop_->HideProgress();
        progress = false;
      }
      if (Options.Has(xoClipboardMessage))
        desktop_->Information(Messages.Caption, Messages.CopiedToClipboard);
    }
    lastRun_.Result = TkxRunResult::roDone;
  } catch (const std::exception& e) {
    lastRun_.Result = TkxRunResult::roFailed;
    lastRun_.Message = e.what();
    Fail(xeGeneralExportError);
  } catch (...) {
    lastRun_.Result = TkxRunResult::roFailed;
    lastRun_.Message = "the report could not be written";
    Fail(xeGeneralExportError);
  }
  if (progress) desktop_->HideProgress();
  if (OnEndExport) OnEndExport(*this);
}

// ---------------------------------------------------------------- grid binding

void TkxDBGridExport::BeginWalk() {
  if (DBGrid) DBGrid->BeginWalk();
}
void TkxDBGridExport::EndWalk() {
  if (DBGrid) DBGrid->EndWalk();
}
void TkxDBGridExport::FirstRow() {
  if (DBGrid) DBGrid->FirstRow();
}
int TkxDBGridExport::ColumnAlignment(int i) {
  if (!DBGrid || i < 0 || i >= DBGrid->ColumnCount()) return 0;
  return DBGrid->Column(i).Alignment;
}
bool TkxDBGridExport::IsReady() {
  return DBGrid != nullptr && DBGrid->IsReady();
}
bool TkxDBGridExport::AtEnd() {
  return !DBGrid || DBGrid->AtEnd(rowsVisited_);
}
bool TkxDBGridExport::ColumnVisible(int i) {
  if (!DBGrid || i < 0 || i >= DBGrid->ColumnCount()) return false;
  return DBGrid->Column(i).Visible;
}
bool TkxDBGridExport::RowSelected() {
  return DBGrid && DBGrid->RowSelected();
}
int TkxDBGridExport::ColumnWidth(int i) {
  if (!DBGrid || i < 0 || i >= DBGrid->ColumnCount()) return 0;
  const TkxColumnInfo c = DBGrid->Column(i);
  switch (c.Kind) {
    case fkText:
      return c.Size;
    case fkBoolean:
      return static_cast<int>(
          std::max(quorvel::CharCount(Messages.TrueText), quorvel::CharCount(Messages.FalseText)));
    case fkNumber:
      return 15;
    case fkDate:
      return static_cast<int>(SampleMomentLength(DateFormat, "%x"));
    case fkTime:
      return static_cast<int>(SampleMomentLength(TimeFormat, "%X"));
    case fkDateTime: {
      const std::string f = DateTimeFormat.empty() && !DateFormat.empty()
                                ? DateFormat + " " + TimeFormat
                                : DateTimeFormat;
      return static_cast<int>(SampleMomentLength(f, "%x %X"));
    }
    case fkUnknown:
      return 13;
    case fkBinary:
      return 12;
    case fkOther:
      return 0;
  }
  return 0;
}
std::string TkxDBGridExport::ColumnTitle(int i) {
  if (!DBGrid || i < 0 || i >= DBGrid->ColumnCount()) return {};
  const TkxColumnInfo c = DBGrid->Column(i);
  if (!c.GridCaption.empty()) return c.GridCaption;
  return c.DisplayLabel.empty() ? c.FieldName : c.DisplayLabel;
}
int TkxDBGridExport::ColumnCount() {
  return DBGrid ? DBGrid->ColumnCount() : 0;
}
void TkxDBGridExport::ReadRow(TkxValues& values) {
  if (DBGrid) DBGrid->ReadRow(values);
}
int TkxDBGridExport::CountRows() {
  return DBGrid ? DBGrid->CountRows() : 0;
}

// ---------------------------------------------------------------- configuration

void ConfigureReportExport(TkxCustomExport& e, const std::string& appPath) {
  e.ExportTypes = TkxExportTypes::FromBits((1u << kxExportTypeCount) - 1);
  e.ExportType = xtExcel;
  e.ExportStyle = xsFile;
  e.Options = TkxExportOptions{xoClipboardMessage, xoFooterLine,   xoHeaderLine,   xoShowExportDate,
                               xoShowHeader,       xoShowProgress, xoUseAlignments};
  e.DateFormat = "dd/MM/yyyy";
  e.TimeFormat = "h:mm AMPM";
  e.DateTimeFormat = "h:mm AMPM dd/MM/yyyy";
  e.TruncateSymbol = "...";
  e.SetRowNumberFormat("%d");
  e.Captions.clear();
  e.ColumnWidths.clear();
  e.HTML = TkxHTMLOptions();
  e.DOC_RTF = TkxRTFOptions();
  e.EXCEL = TkxExcelOptions();
  e.Messages = TkxMessagesOptions();
  e.InitialDir = appPath;
  e.SetTempDir(appPath + "data/");
}
