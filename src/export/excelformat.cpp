// The Excel report: drives TkxNativeExcel through the walk. Labels are written
// in Windows-1252 (the code page the file declares); characters outside it
// become "?" and are counted for the caller.
#include <cctype>
#include <charconv>
#include <cerrno>
#include <cstdlib>

#include "export/nativeexcel.h"
#include "export/textcodec.h"
#include "export/writers.h"

namespace quorvel {
namespace {

bool Digits(std::string_view s, std::size_t& i, bool hex) {
  const std::size_t start = i;
  while (i < s.size() && (std::isdigit(static_cast<unsigned char>(s[i])) ||
                          (hex && std::isxdigit(static_cast<unsigned char>(s[i])))))
    ++i;
  return i > start;
}

// Whole text as a decimal number: blanks, sign, digits, optional fraction,
// optional exponent; "." is the decimal separator; nothing may follow.
bool ReadsAsNumber(std::string_view s, double& value) {
  std::size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  const std::size_t start = i;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  if (!Digits(s, i, false)) return false;
  if (i < s.size() && s[i] == '.') {
    ++i;
    if (!Digits(s, i, false)) return false;
  }
  if (i < s.size() && (s[i] == 'E' || s[i] == 'e')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    if (!Digits(s, i, false)) return false;
  }
  if (i != s.size()) return false;
  // Converted without the C locale, whose decimal separator may be a comma; a
  // number beyond the range of a double stays a label.
  std::string_view number = s.substr(start);
  if (number.front() == '+') number.remove_prefix(1);
  const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
  return ec == std::errc() && end == number.data() + number.size();
}

// Whole text as a hexadecimal integer with a "$", "x", "X", "0x" or "0X" prefix
// and at most eight digits (a 32-bit integer; longer texts stay labels).
bool ReadsAsHex(std::string_view s, long long& value) {
  std::size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  if (i < s.size() && (s[i] == '$' || s[i] == 'x' || s[i] == 'X')) {
    ++i;
  } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    i += 2;
  } else {
    return false;
  }
  const std::size_t start = i;
  if (!Digits(s, i, true) || i != s.size()) return false;
  std::size_t first = start;  // leading zeros do not count towards the eight digits
  while (first + 1 < i && s[first] == '0') ++first;
  if (i - first > 8) return false;
  const long long v =
      static_cast<long long>(std::strtoull(std::string(s.substr(first)).c_str(), nullptr, 16));
  value = negative ? -v : v;
  return true;
}

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
    if (x_.Row() >= TkxNativeExcel::kLastRow)
      throw TExportFailure("An Excel sheet of this format holds at most " +
                           std::to_string(TkxNativeExcel::kLastRow) +
                           " rows; choose another format such as CSV or HTML.");
    x_.SetRow(x_.Row() + 1);
    x_.SetColumn(1);
    if (row.RowNumbers) {
      x_.SetActiveFont(2);
      x_.Borders = CellBorders();
      long long n = 0;
      if (ctx_.Engine->EXCEL.Options.Has(reCellsAsText) || !ReadsAsInteger(row.RowNumber, n))
        x_.WriteLabel(Label(row.RowNumber));
      else
        WriteWhole(n);
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
  static bool ReadsAsInteger(const std::string& s, long long& n) {
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(s.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE) return false;
    n = v;
    return true;
  }

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
    long long hex = 0;
    if (ctx_.Engine->EXCEL.Options.Has(reCellsAsText)) {
      x_.WriteLabel(Label(c.Text));
    } else if (ReadsAsNumber(c.Text, number)) {
      x_.WriteNumber(number);
    } else if (ReadsAsHex(c.Text, hex)) {
      WriteWhole(hex);
    } else {
      x_.WriteLabel(Label(c.Text));
    }
    x_.Alignment = eaGeneral;
  }

  TkxNativeExcel& x_;
};

}  // namespace

int ExcelDataRowCapacity(int startRow) {
  return TkxNativeExcel::kLastRow - startRow;
}

std::unique_ptr<TFormatWriter> MakeExcelWriter(TWriterContext& ctx, TkxNativeExcel& excel) {
  return std::make_unique<TExcelWriter>(ctx, excel);
}

}  // namespace quorvel
