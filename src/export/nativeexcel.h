// A small writer of single-sheet spreadsheet files in the early binary record
// format: a cursor, a set of cell attributes and an in-memory byte stream to
// which every write appends one record.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "export/kxtypes.h"

enum TkxBIFFVersion { bvBIFF2, bvBIFF3, bvBIFF4, bvBIFF5 };
enum TkxMoveAfterEnter { maNone, maUp, maDown, maLeft, maRight };
enum TkxExcelBorder { ebTop, ebBottom, ebLeft, ebRight };
enum TkxExcelAlignment { eaGeneral, eaLeft, eaRight, eaCenter, eaFill, eaMultiPlan };
enum TkxMarginSide { msLeft, msRight, msTop, msBottom };

// The value kinds WriteValue dispatches on.
struct TkxEmpty {};
struct TkxNull {};
struct TkxDate {
  double Serial = 0;  // days since 30 December 1899
};
struct TkxObject {};
using TkxVariant = std::variant<TkxEmpty, TkxNull, std::int8_t, std::int16_t, std::int32_t, float,
                                double, TkxDate, std::string, bool, TkxObject>;

class TkxNativeExcel {
 public:
  TkxBIFFVersion BIFF = bvBIFF5;
  TkxMoveAfterEnter MoveAfterEnter = maRight;
  bool Shading = false;
  TkxSet<TkxExcelBorder> Borders;
  TkxExcelAlignment Alignment = eaGeneral;
  bool Hidden = false;
  bool Locked = true;

  int Row() const { return row_; }
  int Column() const { return column_; }
  // Accepted only when different, not 0 and not beyond the sheet bounds.
  void SetRow(int row);
  void SetColumn(int column);
  int ActiveFont() const { return activeFont_; }
  // Accepted only when not above the number of fonts written.
  void SetActiveFont(int font);
  const std::string& FileName() const { return fileName_; }
  // Stores the name; an extension other than .xls (any case) becomes ".xls".
  void SetFileName(const std::string& name);
  int Version() const { return 0x0117; }
  std::string VersionText() const;

  void BeginSheet();
  void EndSheet();
  void WriteFont(const TkxFont* font);
  void WriteHeaderText(const std::string& text);
  void WriteFooterText(const std::string& text);
  void WriteMargin(TkxMarginSide side, double inches);
  void WriteColumnWidth(int first, int last, int width);
  void WriteProtect(bool on);
  void WriteBlank();
  void WriteInteger(int value);
  void WriteNumber(double value);
  // The label's bytes are written as given (Windows-1252), cut to 255.
  void WriteLabel(const std::string& text);
  void WriteBoolErr(int kind);
  void WriteValue(const TkxVariant& value);
  // The code page of the labels (1252) and the one cell format every cell
  // refers to; readers need both to show the labels.
  void WriteCodePage(int codePage);
  void WriteCellFormat();
  // Writes the stream to FileName (through a temporary file); false on failure.
  bool SaveToFile(std::string* error = nullptr);

  const std::string& Stream() const { return stream_; }
  int FontCount() const { return fontCount_; }
  static constexpr int kLastRow = 65535;
  // Rows a sheet of the version the start record declares holds; readers
  // refuse or cut a sheet with more.
  static constexpr int kSheetRows = 16384;
  static constexpr int kLastColumn = 256;

 private:
  void Header(int id, int length);
  void CellHeader(int id, int length);
  void U8(int v) { stream_ += static_cast<char>(v & 0xFF); }
  void U16(int v) {
    U8(v);
    U8(v >> 8);
  }
  void Double(double v);
  void ShortText(const std::string& text);
  void Move();

  std::string stream_;
  int state_ = 0;
  int fontCount_ = 0;
  int row_ = 1;
  int column_ = 1;
  int activeFont_ = 0;
  std::string fileName_;
};
