// Types shared by the export engine and its writers: the formats, the option
// sets, the user-visible texts and the colour/font settings of the mark-up and
// spreadsheet formats.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum TkxExportType {
  xtLDIF,
  xtHTML,
  xtExcel,
  xtWord,
  xtTXT,
  xtCSV,
  xtTAB,
  xtRTF,
  xtDIF,
  xtSYLK,
  xtClipboard,
  xtXLSX,      // Excel workbook (Office Open XML)
  xtLDIF2849,  // LDIF records (RFC 2849): every value exactly, for directory tools
  xtJSONL      // JSON Lines: one object per entry
};
constexpr int kxExportTypeCount = 14;

enum TkxExportOption {
  xoClipboardMessage,
  xoExportInvisibles,
  xoFooterLine,
  xoHeaderLine,
  xoRowNumbers,
  xoShowExportDate,
  xoShowHeader,
  xoShowProgress,
  xoSelectedRowsOnly,
  xoTruncate,
  xoUseAlignments
};

enum TkxExportStyle { xsFile, xsView };

enum TkxExportError {
  xeInvalidFileName,
  xeFileExist,
  xeComponentIsNull,
  xeGeneralExportError,
  xeUserCancelled
};

// A small bit set over an enumeration: bit n stands for ordinal n.
template <typename E>
class TkxSet {
 public:
  constexpr TkxSet() = default;
  constexpr TkxSet(std::initializer_list<E> items) {
    for (E e : items) bits_ |= Bit(e);
  }
  static constexpr TkxSet FromBits(std::uint32_t bits) {
    TkxSet s;
    s.bits_ = bits;
    return s;
  }
  constexpr bool Has(E e) const { return (bits_ & Bit(e)) != 0; }
  constexpr void Include(E e) { bits_ |= Bit(e); }
  constexpr void Exclude(E e) { bits_ &= ~Bit(e); }
  constexpr std::uint32_t Bits() const { return bits_; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr bool operator==(const TkxSet&) const = default;

 private:
  static constexpr std::uint32_t Bit(E e) { return std::uint32_t{1} << static_cast<int>(e); }
  std::uint32_t bits_ = 0;
};

using TkxExportTypes = TkxSet<TkxExportType>;
using TkxExportOptions = TkxSet<TkxExportOption>;

// One file-filter label per file format.
struct TkxDocumentFilter {
  std::string LDIF = "LDIF Files";
  std::string HTML = "HTML Documents";
  std::string Excel = "Excel Files";
  std::string Word = "Word Documents";
  std::string Text = "Text Files";
  std::string Comma = "CSV (Comma delimited)";
  std::string Tab = "Text (Tab delimited)";
  std::string RTF = "Rich Text Format";
  std::string DIF = "Data Interchange Format";
  std::string SYLK = "SYLK Files";
  std::string XLSX = "Excel Workbook";
  std::string LDIF2849 = "LDIF Files (RFC 2849)";
  std::string JSONL = "JSON Lines";
};

// Every text of the engine that the user sees.
struct TkxMessagesOptions {
  std::string Caption = "Exporting DBGrid";
  std::string CopiedToClipboard = "Data was copied to clipboard!";
  std::string CancelCaption = "&Cancel";
  std::string CreatedText = "Created:";
  std::string ExportCaption = "&Export";
  std::string ExportToFile = "Export &to file";
  std::string FalseText = "False";
  std::string TrueText = "True";
  int Height = 80;
  int Width = 300;
  std::string SaveTitle = "Save document";
  std::string SelectFormat = "E&xport formats:";
  std::string Text = "Processing...";
  std::string ViewOnly = "&View only";
  TkxDocumentFilter DocumentFilter;
};

// A font as the mark-up and spreadsheet writers need it. Pixel height and the
// display's pixels per inch give the size in points; family class and
// character set are the values the font metrics report.
struct TkxFont {
  std::string Name = "MS Sans Serif";
  int PixelHeight = 11;
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  bool StrikeOut = false;
  int FamilyClass = 2;             // sans-serif
  int CharSet = 0;                 // Western
  std::uint32_t Color = 0x000000;  // window text
};

// Pixels per inch of the display the fonts and cell widths are measured on.
constexpr int kxPixelsPerInch = 96;
// Size in points of a font: pixel height scaled by the display resolution.
int FontPointSize(const TkxFont& font);

// ---- HTML options ----
enum TkxHTMLOption { hoShowGridLines, hoBoldHeaders, hoAutoLink, hoOddRowColoring, hoDisplayTitle };
enum TkxHTMLTemplate {
  ctStandard,
  ctBW,
  ctClassic,
  ctColorful,
  ctDark,
  ctGray,
  ctMSMoney,
  ctOlive,
  ctCustom
};
enum TkxHTMLExtension { exHTM, exHTML };

struct TkxHTMLColors {
  std::uint32_t Background = 0xFFFFFF;
  std::uint32_t DefaultLink = 0x0000FF;
  std::string DefaultFontFace = "Arial,Helvetica";
  std::uint32_t VisitedLink = 0xFFFF00;
  std::uint32_t ActiveLink = 0xFF0000;
  std::uint32_t DefaultText = 0x000000;
  std::uint32_t TableFontColor = 0x000000;
  std::string TableFontFace = "Arial,Helvetica";
  std::uint32_t TableBackground = 0xFFFFCF;
  std::uint32_t TableOddBackground = 0xFFFFFF;
  std::uint32_t HeaderBackground = 0x336699;
  std::uint32_t HeadersFontColor = 0xFFFFFF;
};

struct TkxHTMLOptions {
  TkxSet<TkxHTMLOption> Options{hoShowGridLines, hoBoldHeaders, hoAutoLink, hoOddRowColoring,
                                hoDisplayTitle};
  TkxHTMLTemplate Template = ctStandard;
  TkxHTMLExtension Extension = exHTML;
  std::string Title;
  TkxHTMLColors CustomColors;
};

// ---- Word / RTF options ----
enum TkxRTFTemplate { rtStandard, rtClassic, rtColorful, rtGray, rtCustom };
enum TkxRTFOption { roShowGridLines, roOddRowColoring };

struct TkxRTFColors {
  std::uint32_t TableBackground = 0xFFFFCF;
  std::uint32_t TableOddBackground = 0xFFFFFF;
  std::uint32_t HeaderBackground = 0x336699;
  TkxFont DefaultFont;
  TkxFont HeaderFont{.Bold = true};
  TkxFont TableFont;
};

struct TkxRTFOptions {
  TkxRTFTemplate Template = rtStandard;
  TkxSet<TkxRTFOption> Options{roShowGridLines, roOddRowColoring};
  int CellWidth = 1400;
  int TopMargin = 101;
  int BottomMargin = 101;
  int LeftMargin = 461;
  int RightMargin = 562;
  TkxRTFColors CustomSettings;
};

// ---- Excel options ----
enum TkxExcelOption { reCellsAsText, reSetColumnWidths, reSetMargins, reUseBorders };
enum TkxExcelVersion { xls21, xls30, xls40, xls50 };

struct TkxExcelOptions {
  TkxSet<TkxExcelOption> Options{reSetMargins, reUseBorders};
  int ColumnWidth = 20;
  bool Protected = false;
  std::string Header;
  std::string Footer = "&P";
  TkxExcelVersion ExcelVersion = xls50;
  double TopMargin = 0.3;
  double BottomMargin = 0.3;
  double LeftMargin = 0.3;
  double RightMargin = 0.3;
  TkxFont DefaultFont;
  TkxFont HeaderFont{.Bold = true};
  TkxFont TableFont;
};

using TkxValues = std::vector<std::string>;
