// The export engine: turns the rows of a row source into a report in one of
// eleven formats. TkxCustomExport holds the configuration, the dialog flow, the
// walk and the rules shared by all formats; TkxDBGridExport binds it to a row
// source (the results grid in the program, a dataset in the headless runner).
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "export/kxtypes.h"
#include "export/rowsource.h"

class TkxCustomExport;
class TkxNativeExcel;

// Everything of an export that needs a desktop: the selection window, the save
// dialog, the clipboard, the shell, the progress window and message boxes.
// export_ui implements it with Qt; the headless runner and tests without.
class TkxExportDesktop {
 public:
  virtual ~TkxExportDesktop() = default;
  // Shows the selection window; it may change ExportType and ExportStyle.
  // False when the user cancelled.
  virtual bool SelectFormat(TkxCustomExport& engine) = 0;
  // The save dialog; an empty result means cancelled.
  virtual std::string SaveFileName(const std::string& title, const std::string& filter,
                                   const std::string& defaultExt,
                                   const std::string& initialDir) = 0;
  // Replaces the clipboard's content with one plain text.
  virtual bool SetClipboardText(std::string text) = 0;
  // Opens a written file with the application the desktop associates with it.
  virtual bool OpenFile(const std::string& path) = 0;
  virtual void ShowProgress(const TkxMessagesOptions& messages, int total) = 0;
  virtual void SetProgress(int position) = 0;
  virtual void HideProgress() = 0;
  // An information box with an OK button.
  virtual void Information(const std::string& title, const std::string& text) = 0;
  // An error box with an OK button.
  virtual void ErrorBox(const std::string& title, const std::string& text) = 0;
};

// A desktop without windows: answers are preset, everything shown is recorded.
class TkxHeadlessDesktop : public TkxExportDesktop {
 public:
  bool SelectAnswer = true;    // false: the selection window is cancelled
  int SelectTypeAnswer = -1;   // >= 0: the format chosen in the selection window
  int SelectStyleAnswer = -1;  // >= 0: the style chosen in the selection window
  std::string SaveAnswer;      // empty: the save dialog is cancelled
  bool ClipboardWorks = true;
  bool OpenWorks = true;  // false: no application opens a written file
  std::string Clipboard;
  std::vector<std::string> Opened;
  std::vector<std::string> Informations;
  std::vector<std::string> Errors;
  std::string LastSaveFilter, LastSaveExt, LastSaveTitle, LastSaveDir;
  int SaveDialogs = 0;
  int ProgressShown = 0, ProgressTotal = -1, ProgressPosition = -1;
  bool ProgressVisible = false;

  bool SelectFormat(TkxCustomExport& engine) override;
  std::string SaveFileName(const std::string& title, const std::string& filter,
                           const std::string& defaultExt, const std::string& initialDir) override;
  bool SetClipboardText(std::string text) override;
  bool OpenFile(const std::string& path) override;
  void ShowProgress(const TkxMessagesOptions&, int total) override;
  void SetProgress(int position) override { ProgressPosition = position; }
  void HideProgress() override { ProgressVisible = false; }
  void Information(const std::string&, const std::string& text) override;
  void ErrorBox(const std::string&, const std::string& text) override;
};

namespace quorvel {
class TFormatWriter;
struct TWriterContext;
}  // namespace quorvel
// Makes the writer of one format for a run (export/writers.h); it may refuse
// the run with a TExportFailure before anything is written.
using TkxWriterFactory = std::unique_ptr<quorvel::TFormatWriter> (*)(quorvel::TWriterContext&);

// One entry of the table of targets: what the user sees, what the file gets,
// the name quorvel-report knows it by and the writer that lays it out.
struct TkxFormatInfo {
  TkxExportType Type;
  const char* ListText;
  const char* Extension;  // upper case, as listed
  int Icon;
  std::string TkxDocumentFilter::*Filter;  // the save dialog's label; nullptr: none
  const char* Command;                     // the --format name; nullptr: not for files
  TkxWriterFactory Make;
};
// The formats in the order of the selection list.
const std::vector<TkxFormatInfo>& ExportFormatTable();
const TkxFormatInfo& ExportFormatInfo(TkxExportType type);
// The format quorvel-report names `name` (lower case), or nullptr.
const TkxFormatInfo* ExportFormatByCommand(const std::string& name);

// What the rows are the result of, for the formats that say so: LDIF (RFC
// 2849) names the search in its comments, JSON Lines gives readable values
// when the run showed them. Empty when unknown.
struct TkxResultFacts {
  std::string Server, BaseDN, Scope, Filter;
  bool Readable = false;  // the cells hold the values' readable forms
};

// How the last run ended, for the caller to report.
struct TkxRunResult {
  enum Outcome { roNone, roDone, roCancelled, roFailed };
  Outcome Result = roNone;
  std::string Destination;       // the file written or attempted (empty for the clipboard)
  std::string Message;           // why it failed (failures only); Destination names the file
  long long Replaced = 0;        // characters an Excel report could not hold, written as "?"
  long long LineBreakCells = 0;  // DIF cells whose line breaks were written as blanks
  int RowsExported = 0;
  bool ViewFailed = false;  // "View only": written, but no application opened it
};

class TkxCustomExport {
 public:
  using TNotify = std::function<void(TkxCustomExport& sender)>;
  using TGetText = std::function<void(TkxCustomExport& sender, int recordCount, std::string& text)>;
  using TError = std::function<void(TkxCustomExport& sender, TkxExportError error)>;
  using TGetExtension = std::function<void(TkxCustomExport& sender, std::string& extension)>;
  using TExportRow = std::function<void(TkxCustomExport& sender, int current, int total,
                                        TkxValues& values, bool& canExport)>;
  using TFileExist = std::function<void(TkxCustomExport& sender, const std::string& outputFileName,
                                        bool& canOverWrite)>;

  TkxCustomExport();
  virtual ~TkxCustomExport();
  TkxCustomExport(const TkxCustomExport&) = delete;
  TkxCustomExport& operator=(const TkxCustomExport&) = delete;

  // ---- properties ----
  TkxExportTypes ExportTypes;
  TkxExportType ExportType = xtExcel;
  TkxExportStyle ExportStyle = xsView;
  TkxExportOptions Options{xoClipboardMessage, xoFooterLine,   xoHeaderLine,   xoShowExportDate,
                           xoShowHeader,       xoShowProgress, xoUseAlignments};
  std::string DateFormat;
  std::string TimeFormat;
  std::string DateTimeFormat;
  std::string TruncateSymbol = "...";
  std::vector<std::string> Captions;
  std::vector<std::string> ColumnWidths;
  std::string FileName;
  TkxHTMLOptions HTML;
  TkxRTFOptions DOC_RTF;
  TkxExcelOptions EXCEL;
  TkxMessagesOptions Messages;
  // The folder the save dialog starts in (the program's folder).
  std::string InitialDir;
  // The search the rows come from (set by whoever shows or reports them).
  TkxResultFacts ResultFacts;

  const std::string& RowNumberFormat() const { return rowNumberFormat_; }
  // Accepts the format only when it contains "%d"; otherwise an error box.
  void SetRowNumberFormat(const std::string& format);
  const std::string& TempDir() const { return tempDir_; }
  void SetTempDir(const std::string& folder);
  // 0x0225, shown as "2.37".
  int Version() const { return 0x0225; }
  std::string VersionText() const;

  // ---- hooks ----
  TNotify OnBeginExport, OnEndExport;
  TGetText OnGetHeader, OnGetFooter;
  TError OnError;
  TGetExtension OnGetExtension;
  TExportRow OnExport;
  TFileExist OnFileExist;

  // The desktop used for windows, dialogs and the clipboard (not owned;
  // nullptr restores the built-in headless one).
  void SetDesktop(TkxExportDesktop* desktop);
  TkxExportDesktop& Desktop() const { return *desktop_; }
  // The date and time text of the export date line and the LDIF preamble; by
  // default the current local time as short date, blank, long time.
  std::function<std::string()> NowText;

  // ---- operations ----
  // Asks for a format and a destination, then exports.
  void RunExportDialog();
  // Exports to the destination ExportStyle and FileName give.
  void ExportToTarget();
  // Exports to exactly `path`, whatever its extension. True on success.
  bool ExportToPath(const std::string& path);
  // Exports to an open stream (standard output). True on success.
  bool ExportToStream(std::FILE* stream);
  const TkxRunResult& LastRun() const { return lastRun_; }

  // ---- the walk (virtual, in this order) ----
  virtual void BeginWalk() = 0;
  virtual void EndWalk() = 0;
  virtual void FirstRow() = 0;
  virtual int ColumnAlignment(int i) = 0;
  virtual bool IsReady() = 0;
  virtual bool AtEnd() = 0;
  virtual bool ColumnVisible(int i) = 0;
  virtual bool RowSelected() = 0;
  virtual int ColumnWidth(int i) = 0;
  virtual std::string ColumnTitle(int i) = 0;
  virtual int ColumnCount() = 0;
  virtual void ReadRow(TkxValues& values) = 0;
  virtual int CountRows() = 0;
  // The exact values of the row ReadRow read last (TkxRowSource); false when
  // the rows keep none.
  virtual bool ReadEntryValues(quorvel::TEntryValues& out) {
    (void)out;
    return false;
  }
  // The name of column i's field (the requested attribute); the title when
  // the source knows no other.
  virtual std::string ColumnName(int i) { return ColumnTitle(i); }

  // ---- shared rules ----
  // ColumnWidths[i] when it reads as a whole number, else ColumnWidth(i).
  int ColumnWidthFor(int i);
  // The cell text, cut to the column width with TruncateSymbol under xoTruncate.
  std::string FormatCellText(int i, const std::string& value);
  // The "Created: ..." line.
  std::string ExportDateLine();
  // The component's class name, used by DIF and SYLK.
  virtual std::string ClassName() const { return "TkxCustomExport"; }
  // Rows visited so far in the current walk.
  int RowsVisited() const { return rowsVisited_; }

 protected:
  int rowsVisited_ = 0;

 private:
  struct Target;
  struct Walk;
  void Fail(TkxExportError error);
  bool RunTo(const Target& target);
  // The run, step by step: plan the columns, open the sink, make the format's
  // writer from the table of targets, then header, rows, footer and finish.
  void WriteExport(const Target& target);
  bool PlanWalk(const Target& target, Walk& w);
  void OpenSink(const Target& target, Walk& w);
  void WriteHeader(Walk& w);
  void WriteRows(Walk& w);
  void WriteFooter(Walk& w);
  void FinishWalk(Walk& w);
  static std::string FailureText(const Target& target, bool toClipboard, const std::string& reason);

  std::string rowNumberFormat_ = "%d";
  std::string tempDir_;
  TkxExportDesktop* desktop_;
  std::unique_ptr<TkxHeadlessDesktop> ownDesktop_;
  std::unique_ptr<TkxNativeExcel> excel_;
  TkxRunResult lastRun_;
};

class TkxDBGridExport : public TkxCustomExport {
 public:
  // The rows to export (not owned): the results grid or a dataset.
  TkxRowSource* DBGrid = nullptr;

  void BeginWalk() override;
  void EndWalk() override;
  void FirstRow() override;
  int ColumnAlignment(int i) override;
  bool IsReady() override;
  bool AtEnd() override;
  bool ColumnVisible(int i) override;
  bool RowSelected() override;
  int ColumnWidth(int i) override;
  std::string ColumnTitle(int i) override;
  int ColumnCount() override;
  void ReadRow(TkxValues& values) override;
  int CountRows() override;
  bool ReadEntryValues(quorvel::TEntryValues& out) override;
  std::string ColumnName(int i) override;
  std::string ClassName() const override { return "TkxDBGridExport"; }
};

// Applies the configuration the program uses everywhere (windowed and headless),
// so both write byte-identical reports. `appPath` ends with a path separator.
void ConfigureReportExport(TkxCustomExport& engine, const std::string& appPath);

// Padding and link rules shared by the writers.
std::string PadRight(const std::string& text, char c, std::size_t width);
std::string PadLeft(const std::string& text, char c, std::size_t width);
std::string PadCenter(const std::string& text, std::size_t width);
std::string RepeatChar(char c, std::size_t n);
bool IsLink(const std::string& text);
// Formats `number` with a row-number format holding "%d"; false when the
// format cannot be applied.
bool FormatRowNumber(const std::string& format, int number, std::string& out);
// The note for a run whose Excel labels could not hold some characters (they
// were written as "?") or whose DIF cells held line breaks (written as
// blanks); empty when nothing was replaced.
std::string ReplacedCharactersNotice(const TkxRunResult& run);
// The date and time now in the desktop's locale: short date, blank, long time.
std::string LocalDateTimeText();
