// The formats built as lines of text: LDIF, plain text and clipboard text,
// comma- and tab-separated text, DIF and SYLK. Every line goes out followed by
// CR LF.
#include <array>

#include "export/textcodec.h"
#include "export/writers.h"

std::string QuoteValue(const std::string& text, bool force) {
  std::string r;
  AppendQuotedValue(r, text, force);
  return r;
}

namespace {

// Whether a comma-separated value holds a byte that makes it enclosed: one
// table look-up per byte (a search for any of several bytes otherwise scans
// the set for every byte of the value).
bool NeedsQuotes(std::string_view text) {
  static constexpr auto kSpecial = [] {
    std::array<bool, 256> t{};
    for (unsigned char c : {' ', ',', '\r', '\n', '"'}) t[c] = true;
    return t;
  }();
  for (char c : text)
    if (kSpecial[static_cast<unsigned char>(c)]) return true;
  return false;
}

}  // namespace

void AppendQuotedValue(std::string& out, std::string_view text, bool force) {
  // A doubled quote means one quote only inside an enclosed value; readers
  // take a bare one literally, so a value with a quote is enclosed too.
  if (!force && !NeedsQuotes(text)) {
    out.append(text);
    return;
  }
  out.reserve(out.size() + text.size() + 2);
  out += '"';
  for (std::size_t from = 0;;) {
    const std::size_t quote = text.find('"', from);
    if (quote == std::string_view::npos) {
      out.append(text.substr(from));
      break;
    }
    out.append(text.substr(from, quote + 1 - from));
    out += '"';
    from = quote + 1;
  }
  out += '"';
}

namespace quorvel {
namespace {

// A tab-separated cell: a value holding a TAB, CR, LF or double quote is
// enclosed in double quotes with inner quotes doubled, as spreadsheet programs
// write and read tab-separated text; every other value stays as it is.
std::string TabCell(const std::string& text) {
  if (text.find_first_of("\t\r\n\"") == std::string::npos) return text;
  return QuoteValue(text, true);
}

// `text` on one line: every line break (CR LF, CR or LF) and, with `tabs`,
// every TAB becomes one blank. Returns `text` itself when there is nothing to
// replace, else `scratch` holding the changed copy.
const std::string& OneLine(const std::string& text, bool tabs, std::string& scratch) {
  const char* breaks = tabs ? "\t\r\n" : "\r\n";
  std::size_t i = text.find_first_of(breaks);
  if (i == std::string::npos) return text;
  scratch.assign(text, 0, i);
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    scratch += (c == '\r' || c == '\n' || (tabs && c == '\t')) ? ' ' : c;
  }
  return scratch;
}

std::string Base64(std::string_view s) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((s.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < s.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(s[i]) << 16) |
                       (static_cast<unsigned char>(s[i + 1]) << 8) |
                       static_cast<unsigned char>(s[i + 2]);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i < s.size()) {
    unsigned v = static_cast<unsigned char>(s[i]) << 16;
    if (i + 1 < s.size()) v |= static_cast<unsigned char>(s[i + 1]) << 8;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < s.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

// Lines of text in the output; the common part of every format of this module.
class TLinesWriter : public TFormatWriter {
 public:
  explicit TLinesWriter(TWriterContext& ctx) : TFormatWriter(ctx), out_(*ctx.Sink) {}
  void Finish() override {
    out_.Flush();
    if (!out_.Ok()) throw TExportFailure(ctx_.Sink->Error());
  }

 protected:
  void AddLines(const std::vector<std::string>& lines) {
    for (const std::string& l : lines) out_.Add(l);
  }
  // The blanks that stand before a header row when data rows carry a
  // row-number prefix of `prefixLength` characters.
  static std::string HeaderIndent(std::size_t prefixLength) {
    return std::string(prefixLength + 1, ' ');
  }
  TLineWriter out_;
  std::string line_;
};

class TLdifWriter : public TLinesWriter {
 public:
  using TLinesWriter::TLinesWriter;
  void Preamble() override {
    out_.Add("# Quorvel LDIF Output File");
    out_.Add("# Generated on " + ctx_.Engine->NowText());
    out_.Add("version: 1");
    out_.Add("");
  }
  void HeaderText(const std::vector<std::string>& lines) override { AddLines(lines); }
  void DataRow(const TRow& row) override {
    out_.AddVerbatim("# Result " + std::to_string(row.Visited));
    for (const TCell& c : row.Cells) {
      line_ = ctx_.Titles[c.Index];
      const std::string& v = *c.Value;
      // A value holding a line break goes on one line as Base64 after "::",
      // so that the entry keeps one line per column and reads back exactly.
      if (v.find_first_of("\r\n") != std::string::npos) {
        line_ += ":: ";
        line_ += Base64(v);
      } else {
        line_ += ": ";
        line_ += v;
      }
      out_.AddVerbatim(line_);
    }
    out_.AddVerbatim("");
  }
};

class TPlainTextWriter : public TLinesWriter {
 public:
  using TLinesWriter::TLinesWriter;
  void HeaderText(const std::vector<std::string>& lines) override { AddLines(lines); }
  void HeaderRow(const TRow& row) override {
    line_.clear();
    if (row.RowNumbers) line_ = HeaderIndent(CharCount(ctx_.RowNumberReference));
    Cells(row);
  }
  void HeaderSeparator() override {
    if (ctx_.Has(xoHeaderLine)) out_.AddVerbatim(RepeatChar('-', ctx_.TotalTextWidth));
  }
  void DataRow(const TRow& row) override {
    line_.clear();
    if (row.RowNumbers) {
      line_ = PadLeft(row.RowNumber, ' ', CharCount(ctx_.RowNumberReference));
      line_ += ' ';
    }
    Cells(row);
  }
  void Footer(const std::vector<std::string>& lines, const std::string& dateLine) override {
    if (ctx_.Has(xoFooterLine)) out_.AddVerbatim(RepeatChar('-', ctx_.TotalTextWidth));
    AddLines(lines);
    if (!dateLine.empty()) out_.Add(dateLine);
  }

 private:
  void Cells(const TRow& row) {
    line_.reserve(ctx_.TotalTextWidth + 16);
    bool first = true;
    for (const TCell& c : row.Cells) {
      if (!first) line_ += ' ';
      first = false;
      // Each row stays one line of fixed columns.
      const std::string& text = OneLine(c.Text, true, text_);
      const std::size_t n = CharCount(text);
      const std::size_t w = c.Width > 0 ? static_cast<std::size_t>(c.Width) : 0;
      const std::size_t pad = n < w ? w - n : 0;
      switch (c.Alignment) {
        case 2:
          line_.append(pad, ' ');
          line_ += text;
          break;
        case 3:
          line_.append(pad / 2, ' ');
          line_ += text;
          line_.append(pad - pad / 2, ' ');
          break;
        default:
          line_ += text;
          line_.append(pad, ' ');
      }
    }
    out_.Add(line_);
  }
  std::string text_;
};

class TCsvWriter : public TLinesWriter {
 public:
  using TLinesWriter::TLinesWriter;
  void HeaderRow(const TRow& row) override {
    line_.clear();
    if (row.RowNumbers) line_ = HeaderIndent(QuoteValue(ctx_.RowNumberReference, false).size() + 1);
    Cells(row);
  }
  void DataRow(const TRow& row) override {
    line_.clear();
    if (row.RowNumbers) {
      line_ = QuoteValue(row.RowNumber, false);
      line_ += ',';
    }
    Cells(row);
  }

 private:
  void Cells(const TRow& row) {
    bool first = true;
    for (const TCell& c : row.Cells) {
      if (!first) line_ += ',';
      first = false;
      AppendQuotedValue(line_, c.Text, false);
    }
    // Line breaks inside a quoted cell stay part of the cell.
    out_.AddVerbatim(line_);
  }
};

class TTabWriter : public TLinesWriter {
 public:
  using TLinesWriter::TLinesWriter;
  void HeaderText(const std::vector<std::string>& lines) override { AddLines(lines); }
  void HeaderRow(const TRow& row) override {
    line_.clear();
    if (row.RowNumbers) line_ = HeaderIndent(CharCount(ctx_.RowNumberReference) + 1);
    Cells(row);
  }
  void DataRow(const TRow& row) override {
    line_.clear();
    if (row.RowNumbers) {
      line_ = row.RowNumber;
      line_ += '\t';
    }
    Cells(row);
  }
  void Footer(const std::vector<std::string>& lines, const std::string& dateLine) override {
    AddLines(lines);
    if (!dateLine.empty()) out_.Add(dateLine);
  }

 private:
  void Cells(const TRow& row) {
    bool first = true;
    for (const TCell& c : row.Cells) {
      if (!first) line_ += '\t';
      first = false;
      line_ += TabCell(c.Text);
    }
    // Line breaks inside a quoted cell stay part of the cell.
    out_.AddVerbatim(line_);
  }
};

class TDifWriter : public TLinesWriter {
 public:
  using TLinesWriter::TLinesWriter;
  void Preamble() override {
    const int vectors = ctx_.ColumnCount + (ctx_.Has(xoRowNumbers) ? 1 : 0);
    for (const std::string& l :
         {std::string("TABLE"), std::string("0,1"),
          "\"" + AsciiUpper(ctx_.Engine->ClassName()) + "\"", std::string("VECTORS"),
          "0," + std::to_string(vectors), std::string("\"\""), std::string("TUPLES"),
          "0," + std::to_string(ctx_.TotalRows), std::string("\"\""), std::string("DATA"),
          std::string("0,0"), std::string("\"\"")})
      out_.AddVerbatim(l);
  }
  void HeaderRow(const TRow& row) override {
    out_.AddVerbatim("-1,0");
    out_.AddVerbatim("BOT");
    if (row.RowNumbers) {
      out_.AddVerbatim("1,0");
      out_.AddVerbatim("\"\"");
    }
    Cells(row);
  }
  void DataRow(const TRow& row) override {
    out_.AddVerbatim("-1,0");
    out_.AddVerbatim("BOT");
    if (row.RowNumbers) {
      out_.AddVerbatim("1,0");
      out_.AddVerbatim("\"" + row.RowNumber + "\"");
    }
    Cells(row);
  }
  void Finish() override {
    out_.AddVerbatim("-1,0");
    out_.AddVerbatim("EOD");
    TLinesWriter::Finish();
  }

 private:
  void Cells(const TRow& row) {
    for (const TCell& c : row.Cells) {
      out_.AddVerbatim("1,0");
      // A line break would end the string item and let the rest of the value
      // be read as items of its own (rows could be hidden that way): each one
      // is written as a blank and the cell counted for the closing message.
      const std::string& text = OneLine(c.Text, false, text_);
      if (&text != &c.Text) ++ctx_.LineBreakCells;
      // Every string value is quoted, so that readers take it as a string.
      out_.AddVerbatim(QuoteValue(text, true));
    }
  }
  std::string text_;
};

class TSylkWriter : public TLinesWriter {
 public:
  using TLinesWriter::TLinesWriter;
  void Preamble() override { out_.AddVerbatim("ID;P" + AsciiUpper(ctx_.Engine->ClassName())); }
  void HeaderRow(const TRow& row) override {
    std::string indent;
    if (row.RowNumbers) indent = HeaderIndent(ctx_.RowNumberReference.size() + 2);
    Cells(row, indent);
  }
  void DataRow(const TRow& row) override {
    if (row.RowNumbers)
      out_.AddVerbatim("C;X1;Y" + std::to_string(ctx_.SylkRow) + ";K\"" + row.RowNumber + "\"");
    Cells(row, {});
  }
  void Finish() override {
    out_.AddVerbatim("E");
    TLinesWriter::Finish();
  }

 private:
  void Cells(const TRow& row, const std::string& indent) {
    const int shift = row.RowNumbers ? 2 : 1;
    bool first = true;
    for (const TCell& c : row.Cells) {
      line_ = first ? indent : std::string();
      first = false;
      line_ += "C;X" + std::to_string(c.Index + shift) + ";Y" + std::to_string(ctx_.SylkRow) + ";K";
      // The value stands between double quotes, read up to the last one, so
      // inner quotes stay single; a ";" is doubled (a single one ends the
      // field) and a line break is written as ESC blank colon.
      line_ += '"';
      const std::string& v = c.Text;
      for (std::size_t k = 0; k < v.size(); ++k) {
        const char ch = v[k];
        if (ch == '\r' || ch == '\n') {
          if (ch == '\r' && k + 1 < v.size() && v[k + 1] == '\n') ++k;
          line_ += "\x1b :";
        } else {
          line_ += ch;
          if (ch == ';') line_ += ';';
        }
      }
      line_ += '"';
      out_.AddVerbatim(line_);
    }
  }
};

}  // namespace

std::unique_ptr<TFormatWriter> MakeTextWriter(TWriterContext& ctx) {
  switch (ctx.Type) {
    case xtLDIF:
      return std::make_unique<TLdifWriter>(ctx);
    case xtCSV:
      return std::make_unique<TCsvWriter>(ctx);
    case xtTAB:
      return std::make_unique<TTabWriter>(ctx);
    case xtDIF:
      return std::make_unique<TDifWriter>(ctx);
    case xtSYLK:
      return std::make_unique<TSylkWriter>(ctx);
    default:
      return std::make_unique<TPlainTextWriter>(ctx);
  }
}

}  // namespace quorvel
