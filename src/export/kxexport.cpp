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
  using F = TkxDocumentFilter;
  using namespace quorvel;
  static const std::vector<TkxFormatInfo> table = {
      {xtHTML, "HTML", "HTML", 2, &F::HTML, "html", MakeMarkupWriter},
      {xtWord, "Microsoft Word", "DOC", 4, &F::Word, "doc", MakeMarkupWriter},
      {xtExcel, "Microsoft Excel", "XLS", 5, &F::Excel, "xls", MakeExcelWriter},
      {xtTXT, "Text", "TXT", 3, &F::Text, "txt", MakeTextWriter},
      {xtRTF, "Rich Text", "RTF", 0, &F::RTF, "rtf", MakeMarkupWriter},
      {xtLDIF, "LDIF", "LDIF", 3, &F::LDIF, "ldif", MakeTextWriter},
      {xtCSV, "Comma-Separated Text", "CSV", 1, &F::Comma, "csv", MakeTextWriter},
      {xtTAB, "Tab-Separated Text", "TXT", 6, &F::Tab, "tab", MakeTextWriter},
      {xtDIF, "Data Interchange Format", "DIF", 6, &F::DIF, "dif", MakeTextWriter},
      {xtSYLK, "SYLK Format", "SLK", 6, &F::SYLK, "slk", MakeTextWriter},
      {xtClipboard, "Clipboard", "TMP", 7, nullptr, nullptr, MakeTextWriter},
      {xtXLSX, "Excel Workbook", "XLSX", 8, &F::XLSX, "xlsx", MakeWorkbookWriter},
      {xtLDIF2849, "LDIF (RFC 2849)", "LDIF", 3, &F::LDIF2849, "ldif2849", MakeLdifRecordWriter},
      {xtJSONL, "JSON Lines", "JSONL", 3, &F::JSONL, "jsonl", MakeJsonLinesWriter},
  };
  return table;
}

const TkxFormatInfo& ExportFormatInfo(TkxExportType type) {
  for (const TkxFormatInfo& f : ExportFormatTable())
    if (f.Type == type) return f;
  return ExportFormatTable().front();
}

const TkxFormatInfo* ExportFormatByCommand(const std::string& name) {
  for (const TkxFormatInfo& f : ExportFormatTable())
    if (f.Command != nullptr && name == f.Command) return &f;
  return nullptr;
}

namespace {

std::string FormatExtension(const TkxCustomExport& e, TkxExportType t) {
  if (t == xtHTML && e.HTML.Extension == exHTM) return "HTM";
  return ExportFormatInfo(t).Extension;
}

const std::string& FilterLabel(const TkxCustomExport& e, TkxExportType t) {
  static const std::string none;
  const TkxFormatInfo& f = ExportFormatInfo(t);
  return f.Filter != nullptr ? e.Messages.DocumentFilter.*f.Filter : none;
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

// The state of one run of the walk: what the steps below hand on to each other.
struct TkxCustomExport::Walk {
  TWriterContext ctx;
  bool toClipboard = false;
  bool progress = false;
  std::vector<TCell> cells;  // the exported columns, in order, with their layout facts
  std::string rowFormat;     // the row-number format that applies
  int rowsExported = 0;
  std::unique_ptr<quorvel::TByteSink> sink;
  std::unique_ptr<quorvel::TFormatWriter> writer;
};

namespace {

// `text` split at every CR, LF or CR LF (the header and footer hooks' lines).
std::vector<std::string> SplitLines(const std::string& text) {
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
}

}  // namespace

void TkxCustomExport::WriteExport(const Target& target) {
  if (OnBeginExport) OnBeginExport(*this);
  Walk w;
  w.toClipboard = ExportType == xtClipboard && target.kind == Target::tkFile;
  lastRun_.Destination = w.toClipboard ? std::string() : target.path;
  try {
    // A result without columns ends the run before anything is written, and
    // without the end hook.
    if (!PlanWalk(target, w)) {
      if (w.progress) desktop_->HideProgress();
      return;
    }
    OpenSink(target, w);
    w.writer = ExportFormatInfo(ExportType).Make(w.ctx);
    WriteHeader(w);
    WriteRows(w);
    WriteFooter(w);
    FinishWalk(w);
  } catch (const std::exception& e) {
    lastRun_.Result = TkxRunResult::roFailed;
    lastRun_.Message = e.what();
    Fail(xeGeneralExportError);
  } catch (...) {
    lastRun_.Result = TkxRunResult::roFailed;
    lastRun_.Message = "the report could not be written";
    Fail(xeGeneralExportError);
  }
  if (w.progress) desktop_->HideProgress();
  if (OnEndExport) OnEndExport(*this);
}

// Counts the rows, asks about an existing destination and lays out the
// columns that go out. False (the run failed, nothing written) when the
// result has no columns.
bool TkxCustomExport::PlanWalk(const Target& target, Walk& w) {
  TWriterContext& ctx = w.ctx;
  ctx.Engine = this;
  ctx.Type = ExportType;
  ctx.TotalRows = CountRows();
  if (Options.Has(xoShowProgress)) {
    desktop_->ShowProgress(Messages, ctx.TotalRows);
    w.progress = true;
  }
  if (target.kind != Target::tkStream && !w.toClipboard && quorvel::FileExists(target.path)) {
    bool canOverWrite = true;
    if (OnFileExist) OnFileExist(*this, target.path, canOverWrite);
    if (!canOverWrite) {
      Fail(xeFileExist);
      throw TExportFailure("The file \"" + target.path + "\" exists and was not replaced.");
    }
  }
  rowsVisited_ = 0;
  FirstRow();
  ctx.ColumnCount = ColumnCount();
  if (ctx.ColumnCount == 0) {
    lastRun_.Result = TkxRunResult::roFailed;
    lastRun_.Message = "The result has no columns: nothing was written.";
    return false;
  }
  for (int i = 0; i < ctx.ColumnCount; ++i) {
    ctx.Titles.push_back(ColumnTitle(i));
    ctx.Names.push_back(ColumnName(i));
    if (!Options.Has(xoExportInvisibles) && !ColumnVisible(i)) continue;
    TCell c;
    c.Index = i;
    c.Alignment = Options.Has(xoUseAlignments) ? ColumnAlignment(i) : 0;
    c.Width = ColumnWidthFor(i);
    if (static_cast<std::size_t>(i) < ColumnWidths.size()) c.WidthAttr = &ColumnWidths[i];
    w.cells.push_back(c);
  }
  ctx.ExportedColumns = static_cast<int>(w.cells.size());
  w.rowFormat = rowNumberFormat_;
  if (!FormatRowNumber(w.rowFormat, ctx.TotalRows, ctx.RowNumberReference)) {
    w.rowFormat = "%d";
    FormatRowNumber(w.rowFormat, ctx.TotalRows, ctx.RowNumberReference);
  }
  std::size_t width = 0;
  for (const TCell& c : w.cells) width += static_cast<std::size_t>(std::max(c.Width, 0));
  if (Options.Has(xoRowNumbers))
    width += ctx.ColumnCount + quorvel::CharCount(ctx.RowNumberReference);
  else
    width += ctx.ColumnCount - 1;
  ctx.TotalTextWidth = width;
  return true;
}

// Where the bytes go: the stream, the clipboard's text or a temporary file
// renamed over the destination when complete.
void TkxCustomExport::OpenSink(const Target& target, Walk& w) {
  TWriterContext& ctx = w.ctx;
  if (target.kind == Target::tkStream) {
    w.sink = std::make_unique<quorvel::TStreamSink>(target.stream);
  } else if (w.toClipboard) {
    auto text = std::make_unique<quorvel::TStringSink>();
    // Every line of the plain text is the total width plus CR LF.
    text->Reserve((ctx.TotalTextWidth + 2) * (static_cast<std::size_t>(ctx.TotalRows) + 3) + 4096);
    w.sink = std::move(text);
  } else {
    w.sink = std::make_unique<quorvel::TAtomicFileSink>(target.path);
  }
  if (!w.sink->Error().empty()) throw TExportFailure(w.sink->Error());
  ctx.Sink = w.sink.get();
  ctx.Excel = excel_.get();
  ctx.Destination = target.kind == Target::tkStream ? std::string() : target.path;
}

// The preamble, the header hook's lines, the prologue and the title row.
void TkxCustomExport::WriteHeader(Walk& w) {
  TWriterContext& ctx = w.ctx;
  w.writer->Preamble();
  std::string header;
  if (OnGetHeader) OnGetHeader(*this, ctx.TotalRows, header);
  w.writer->HeaderText(SplitLines(header));
  w.writer->Prologue();
  if (Options.Has(xoShowHeader)) {
    TRow row;
    row.Header = true;
    row.RowNumbers = Options.Has(xoRowNumbers);
    row.Cells = w.cells;
    for (TCell& c : row.Cells) {
      // Titles are cell texts like any other: cut to the column width too.
      c.Text = FormatCellText(c.Index, static_cast<std::size_t>(c.Index) < Captions.size()
                                           ? Captions[c.Index]
                                           : ctx.Titles[c.Index]);
      c.Value = &c.Text;
    }
    w.writer->HeaderRow(row);
    ++ctx.SylkRow;
  }
  w.writer->HeaderSeparator();
  if (!Options.Has(xoShowHeader)) w.writer->OpenTable();
}

// Every row of the source from the first to the end; the selected-rows option
// and the row hook decide which go out.
void TkxCustomExport::WriteRows(Walk& w) {
  TWriterContext& ctx = w.ctx;
  static const std::string empty;
  TkxValues values;
  quorvel::TEntryValues entry;
  const bool exact = w.writer->WantsEntryValues();
  TRow row;
  row.RowNumbers = Options.Has(xoRowNumbers);
  row.Cells = w.cells;
  if (exact) row.Entry = &entry;
  while (!AtEnd()) {
    ReadRow(values);
    bool canExport = true;
    if (Options.Has(xoSelectedRowsOnly)) canExport = RowSelected();
    if (OnExport) OnExport(*this, rowsVisited_, ctx.TotalRows, values, canExport);
    if (w.progress) desktop_->SetProgress(rowsVisited_);
    if (canExport) {
      row.Visited = rowsVisited_;
      if (exact && !ReadEntryValues(entry))
        throw TExportFailure(
            "This format writes the entries of a profile's run with every value exactly as the "
            "directory sent it, and these rows are not such entries (an entry's properties and "
            "a change report keep no values of their own): run the profile and export its "
            "results, or choose another format.");
      if (row.RowNumbers && !FormatRowNumber(w.rowFormat, w.rowsExported + 1, row.RowNumber))
        FormatRowNumber("%d", w.rowsExported + 1, row.RowNumber);
      for (TCell& c : row.Cells) {
        const std::size_t k = static_cast<std::size_t>(c.Index);
        c.Value = k < values.size() ? &values[k] : &empty;
        if (Options.Has(xoTruncate))
          c.Text = FormatCellText(c.Index, *c.Value);
        else
          c.Text.assign(*c.Value);
      }
      w.writer->DataRow(row);
      ++ctx.SylkRow;
      ++w.rowsExported;
    }
    ++rowsVisited_;
  }
}

// The end of the table, the footer hook's lines and the export date line,
// then everything the writer still holds goes to the sink.
void TkxCustomExport::WriteFooter(Walk& w) {
  TWriterContext& ctx = w.ctx;
  w.writer->CloseTable();
  std::string footer;
  if (OnGetFooter) OnGetFooter(*this, ctx.TotalRows, footer);
  w.writer->Footer(SplitLines(footer),
                   Options.Has(xoShowExportDate) ? ExportDateLine() : std::string());
  w.writer->Finish();
}

// Commits the sink (the rename over the destination, or the clipboard) and
// records how the run ended.
void TkxCustomExport::FinishWalk(Walk& w) {
  lastRun_.Replaced = w.ctx.Replaced;
  lastRun_.LineBreakCells = w.ctx.LineBreakCells;
  lastRun_.RowsExported = w.rowsExported;
  if (!w.sink->Commit()) throw TExportFailure(w.sink->Error());
  if (w.toClipboard) {
    auto* text = static_cast<quorvel::TStringSink*>(w.sink.get());
    if (!desktop_->SetClipboardText(text->Take()))
      throw TExportFailure("The clipboard could not take the report.");
    if (w.progress) {
      desktop_->HideProgress();
      w.progress = false;
    }
    if (Options.Has(xoClipboardMessage))
      desktop_->Information(Messages.Caption, Messages.CopiedToClipboard);
  }
  lastRun_.Result = TkxRunResult::roDone;
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
bool TkxDBGridExport::ReadEntryValues(quorvel::TEntryValues& out) {
  return DBGrid && DBGrid->ReadEntryValues(out);
}
std::string TkxDBGridExport::ColumnName(int i) {
  if (!DBGrid || i < 0 || i >= DBGrid->ColumnCount()) return {};
  return DBGrid->Column(i).FieldName;
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
