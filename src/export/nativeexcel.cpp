#include "export/nativeexcel.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include "export/output.h"
#include "export/textcodec.h"

namespace {
constexpr int kStarted = 1;
constexpr int kEnded = 2;
}  // namespace

void TkxNativeExcel::SetRow(int row) {
  if (row != row_ && row != 0 && row > 0 && row <= kLastRow) row_ = row;
}

void TkxNativeExcel::SetColumn(int column) {
  if (column != column_ && column > 0 && column <= kLastColumn) column_ = column;
}

void TkxNativeExcel::SetActiveFont(int font) {
  if (font >= 0 && font <= fontCount_) activeFont_ = font;
}

void TkxNativeExcel::SetFileName(const std::string& name) {
  fileName_ = name;
  if (!quorvel::EqualsNoCase(quorvel::FileExtension(name), "xls"))
    fileName_ = quorvel::ChangeFileExt(name, "xls");
}

std::string TkxNativeExcel::VersionText() const {
  return std::to_string(Version() >> 8) + "." + std::to_string(Version() & 0xFF);
}

void TkxNativeExcel::Header(int id, int length) {
  if (state_ == kEnded) BeginSheet();
  U16(id);
  U16(length);
}

void TkxNativeExcel::Double(double v) {
  unsigned char b[8];
  std::memcpy(b, &v, 8);  // little-endian host
  stream_.append(reinterpret_cast<const char*>(b), 8);
}

void TkxNativeExcel::BeginSheet() {
  state_ = kStarted;
  fontCount_ = 0;
  stream_.clear();
  static constexpr int kBof[] = {0x0009, 0x0209, 0x0409, 0x0809};
  const bool v2 = BIFF == bvBIFF2;
  U16(kBof[BIFF]);
  U16(v2 ? 4 : 6);
  U16(0x0200);
  U16(0x0010);
  if (!v2) U16(0);
  U16(v2 ? 0x0000 : 0x0200);
  U16(v2 ? 8 : 10);
  U16(0);
  U16(kLastRow);
  U16(0);
  U16(kLastColumn);
  if (!v2) U16(0);
}

void TkxNativeExcel::EndSheet() {
  Header(0x000A, 0);
  state_ = kEnded;
}

void TkxNativeExcel::WriteCodePage(int codePage) {
  Header(0x0042, 2);
  U16(codePage);
}

void TkxNativeExcel::WriteCellFormat() {
  // Font 0, general number format, locked, general alignment, no borders.
  Header(0x0043, 4);
  U8(0);
  U8(0);
  U8(0x40);
  U8(0);
}

void TkxNativeExcel::WriteFont(const TkxFont* font) {
  if (font == nullptr || fontCount_ >= 4) return;
  ++fontCount_;
  const std::string name = font->Name.substr(0, 255);
  Header(0x0031, 5 + static_cast<int>(name.size()));
  U16(FontPointSize(*font) * 20);
  U16((font->Bold ? 1 : 0) | (font->Italic ? 2 : 0) | (font->Underline ? 4 : 0) |
      (font->StrikeOut ? 8 : 0));
  U8(static_cast<int>(name.size()));
  stream_ += name;
}

void TkxNativeExcel::ShortText(const std::string& text) {
  const std::size_t n = std::min<std::size_t>(text.size(), 255);
  U8(static_cast<int>(n));
  stream_.append(text, 0, n);
}

void TkxNativeExcel::WriteHeaderText(const std::string& text) {
  Header(0x0014, 1 + static_cast<int>(std::min<std::size_t>(text.size(), 255)));
  ShortText(text);
}

void TkxNativeExcel::WriteFooterText(const std::string& text) {
  Header(0x0015, 1 + static_cast<int>(std::min<std::size_t>(text.size(), 255)));
  ShortText(text);
}

void TkxNativeExcel::WriteMargin(TkxMarginSide side, double inches) {
  static constexpr int kIds[] = {0x0026, 0x0027, 0x0028, 0x0029};
  Header(kIds[side], 8);
  Double(inches);
}

void TkxNativeExcel::WriteColumnWidth(int first, int last, int width) {
  Header(0x0024, 4);
  U8(first);
  U8(last);
  U16(width);
}

void TkxNativeExcel::WriteProtect(bool on) {
  Header(0x0012, 2);
  U16(on ? 1 : 0);
}

void TkxNativeExcel::Move() {
  switch (MoveAfterEnter) {
    case maNone:
      break;
    case maRight:
      if (column_ < kLastColumn) {
        ++column_;
      } else if (row_ < kLastRow) {
        column_ = 1;
        ++row_;
      }
      break;
    case maDown:
      if (row_ < kLastRow) {
        ++row_;
      } else if (column_ < kLastColumn) {
        row_ = 1;
        ++column_;
      }
      break;
    case maLeft:
      if (column_ > 1) {
        --column_;
      } else if (row_ > 1) {
        column_ = kLastColumn;
        --row_;
      }
      break;
    case maUp:
      if (row_ > 1) {
        --row_;
      } else if (column_ >= 2) {
        row_ = kLastRow;
        --column_;
      }
      break;
  }
}

void TkxNativeExcel::CellHeader(int id, int length) {
  Header(id, length);
  U16(row_ - 1);
  U16(column_ - 1);
  Move();
  U8((Locked ? 0x40 : 0) | (Hidden ? 0x80 : 0));
  U8(activeFont_ == 1 ? 0x40 : activeFont_ == 2 ? 0x80 : activeFont_ == 3 ? 0xC0 : 0);
  static constexpr int kAlign[] = {0, 1, 3, 2, 4, 7};  // by TkxExcelAlignment
  U8(kAlign[Alignment] | (Borders.Has(ebLeft) ? 0x08 : 0) | (Borders.Has(ebRight) ? 0x10 : 0) |
     (Borders.Has(ebTop) ? 0x20 : 0) | (Borders.Has(ebBottom) ? 0x40 : 0) | (Shading ? 0x80 : 0));
}

void TkxNativeExcel::WriteBlank() {
  CellHeader(0x0001, 7);
}

void TkxNativeExcel::WriteInteger(int value) {
  CellHeader(0x0002, 9);
  U16(value & 0xFFFF);
}

void TkxNativeExcel::WriteNumber(double value) {
  CellHeader(0x0003, 15);
  Double(value);
}

void TkxNativeExcel::WriteLabel(const std::string& text) {
  const int n = static_cast<int>(std::min<std::size_t>(text.size(), 255));
  CellHeader(0x0004, 8 + n);
  ShortText(text);
}

void TkxNativeExcel::WriteBoolErr(int kind) {
  static constexpr int kValue[] = {1, 0, 0x00, 0x07, 0x0F, 0x17, 0x1D, 0x24, 0x2A};
  if (kind < 0 || kind > 8) kind = 8;
  CellHeader(0x0005, 9);
  U8(kValue[kind]);
  U8(kind >= 2 ? 1 : 0);
}

void TkxNativeExcel::WriteValue(const TkxVariant& value) {
  struct Visitor {
    TkxNativeExcel& x;
    void operator()(const TkxEmpty&) { x.WriteBlank(); }
    void operator()(const TkxNull&) { x.WriteBoolErr(2); }
    void operator()(std::int8_t v) { x.WriteInteger(v); }
    void operator()(std::int16_t v) { x.WriteInteger(v); }
    void operator()(std::int32_t v) { x.WriteInteger(v); }
    void operator()(float v) { x.WriteNumber(v); }
    void operator()(double v) { x.WriteNumber(v); }
    void operator()(const TkxDate& d) {
      // Days since 30 December 1899 as the default date-time notation.
      const long long secs = static_cast<long long>((d.Serial - 25569.0) * 86400.0 + 0.5);
      const std::time_t t = static_cast<std::time_t>(secs);
      std::tm tm{};
      gmtime_r(&t, &tm);
      char buf[64];
      std::strftime(buf, sizeof buf, "%x %X", &tm);
      x.WriteLabel(buf);
    }
    void operator()(const std::string& s) { x.WriteLabel(s); }
    void operator()(bool b) { x.WriteBoolErr(b ? 0 : 1); }
    void operator()(const TkxObject&) { x.WriteBoolErr(8); }
  };
  std::visit(Visitor{*this}, value);
}

bool TkxNativeExcel::SaveToFile(std::string* error) {
  std::string why;
  const bool ok = quorvel::WriteFileAtomically(fileName_, stream_, why);
  if (!ok && error != nullptr) *error = why;
  return ok;
}

int FontPointSize(const TkxFont& font) {
  return (font.PixelHeight * 72 + kxPixelsPerInch / 2) / kxPixelsPerInch;
}
