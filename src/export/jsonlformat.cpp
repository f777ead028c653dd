// JSON Lines: one JSON object per exported row, in the report's order, on one
// line each: {"dn": "...", "ATTR": [values...], ...}. Every exported attribute
// column is a key (the requested name, without surrounding blanks) whose array
// holds the entry's values in the order received, [] when the entry has none.
// A text value (valid UTF-8 without control characters other than TAB, CR and
// LF, and not of an attribute named ";binary") is a JSON string of exactly its
// bytes, nothing trimmed, or its readable form where the run shows readable
// values; any other value (and a DN that is not text) is {"base64": "..."}.
// UTF-8 without a byte order mark, each line ending with LF; the header and
// footer texts and truncation do not apply.
#include "export/textcodec.h"
#include "export/writers.h"
#include "ldap/base64.h"
#include "ldap/valueforms.h"

namespace quorvel {
namespace {

void AppendJsonString(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for (char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 15];
        } else {
          out += ch;
        }
    }
  }
  out += '"';
}

void AppendBase64Object(std::string& out, std::string_view bytes) {
  out += "{\"base64\": \"";
  out += EncodeBase64(bytes);
  out += "\"}";
}

bool BinaryName(std::string_view name) {
  for (std::size_t i = 0; i + 7 <= name.size(); ++i)
    if (EqualsNoCase(name.substr(i, 7), ";binary")) return true;
  return false;
}

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32) s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32) s.remove_suffix(1);
  return s;
}

class TJsonLinesWriter : public TFormatWriter {
 public:
  using TFormatWriter::TFormatWriter;

  bool WantsEntryValues() const override { return true; }

  void DataRow(const TRow& row) override {
    const TEntryValues& e = *row.Entry;
    line_.assign("{\"dn\": ");
    if (IsTextValue(e.DN))
      AppendJsonString(line_, e.DN);
    else
      AppendBase64Object(line_, e.DN);
    for (const TCell& c : row.Cells) {
      const std::size_t k = static_cast<std::size_t>(c.Index);
      if (k == e.DNColumn) continue;
      const std::string_view name = Trimmed(ctx_.Names[k]);
      line_ += ", ";
      AppendJsonString(line_, name);
      line_ += ": [";
      if (k < e.Columns.size()) AppendValues(name, e.Columns[k]);
      line_ += ']';
    }
    line_ += "}\n";
    if (!ctx_.Sink->Write(line_)) throw TExportFailure(ctx_.Sink->Error());
  }

  void Finish() override {}

 private:
  void AppendValues(std::string_view requested, const TEntryAttribute& a) {
    const TValueForm form = ctx_.Engine->ResultFacts.Readable ? ReadableForm(requested) : vfPlain;
    const bool binaryName = BinaryName(a.Name);
    for (std::size_t i = 0; i < a.Values.size(); ++i) {
      if (i > 0) line_ += ", ";
      const std::string& v = a.Values[i];
      if (form != vfPlain && ReadableText(form, v, readable_))
        AppendJsonString(line_, readable_);
      else if (binaryName || !IsTextValue(v))
        AppendBase64Object(line_, v);
      else
        AppendJsonString(line_, v);
    }
  }

  std::string line_;
  std::string readable_;
};

}  // namespace

std::unique_ptr<TFormatWriter> MakeJsonLinesWriter(TWriterContext& ctx) {
  return std::make_unique<TJsonLinesWriter>(ctx);
}

}  // namespace quorvel
