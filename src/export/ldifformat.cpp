// LDIF (RFC 2849): one record per exported row, in the report's order, every
// value exactly as the directory sent it, so the file imports with directory
// tools and gives back the same entries.
//
// The file: comment lines naming the search (server, base DN, scope, filter)
// and the time, "version: 1", then per row an empty line and the record: the
// "dn:" line, then for each exported attribute column the entry has, one line
// per value in the order received, under the attribute's name as the
// directory sent it. A value (or DN) that is not a SAFE-STRING (it begins
// with a space, ":" or "<", ends with a space, or holds NUL, CR, LF or a byte
// above 127) is written "name:: BASE64", every other one "name: value". Lines
// longer than 76 bytes are folded: the rest goes on continuation lines that
// begin with one space. Lines end with LF. Readable forms, truncation and the
// header and footer texts do not apply: the values are the raw bytes.
#include "export/textcodec.h"
#include "export/writers.h"
#include "ldap/base64.h"

namespace quorvel {
namespace {

constexpr std::size_t kFoldColumn = 76;

bool SafeString(std::string_view v) {
  if (v.empty()) return true;
  const unsigned char first = static_cast<unsigned char>(v.front());
  if (first == ' ' || first == ':' || first == '<') return false;
  if (v.back() == ' ') return false;
  for (unsigned char c : v)
    if (c == 0 || c == '\r' || c == '\n' || c > 127) return false;
  return true;
}

// A comment line's text on one line, without control characters.
std::string CommentText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) out += c < 32 || c == 127 ? ' ' : static_cast<char>(c);
  return out;
}

// Appends "name: value" or "name:: BASE64", folded, with its LF.
void AppendLine(std::string& out, std::string_view name, std::string_view value) {
  std::string line(name);
  if (SafeString(value)) {
    line += value.empty() ? ":" : ": ";
    line += value;
  } else {
    line += ":: ";
    line += EncodeBase64(value);
  }
  // Every byte of a written line is ASCII (other values are Base64), so the
  // fold never splits a character.
  std::size_t at = 0;
  std::size_t room = kFoldColumn;
  while (line.size() - at > room) {
    out.append(line, at, room);
    out += "\n ";
    at += room;
    room = kFoldColumn - 1;
  }
  out.append(line, at, std::string::npos);
  out += '\n';
}

class TLdifRecordWriter : public TFormatWriter {
 public:
  using TFormatWriter::TFormatWriter;

  bool WantsEntryValues() const override { return true; }

  void Preamble() override {
    const TkxResultFacts& f = ctx_.Engine->ResultFacts;
    std::string head = "# Quorvel LDIF (RFC 2849) report\n";
    if (!f.Server.empty()) {
      head += "# Server: " + CommentText(f.Server) + "\n";
      head += "# Base DN: " + CommentText(f.BaseDN) + "\n";
      head += "# Scope: " + CommentText(f.Scope) + "\n";
      head += "# Filter: " + CommentText(f.Filter) + "\n";
    }
    head += "# Generated on " + CommentText(ctx_.Engine->NowText ? ctx_.Engine->NowText() : "") +
            "\nversion: 1\n";
    Put(head);
  }

  void DataRow(const TRow& row) override {
    const TEntryValues& e = *row.Entry;
    record_.clear();
    record_ += '\n';
    AppendLine(record_, "dn", e.DN);
    // An attribute asked for twice is one attribute of the entry: written once.
    written_.clear();
    for (const TCell& c : row.Cells) {
      const std::size_t k = static_cast<std::size_t>(c.Index);
      if (k == e.DNColumn || k >= e.Columns.size()) continue;
      const TEntryAttribute& a = e.Columns[k];
      if (a.Values.empty() || Written(a.Name)) continue;
      written_.push_back(a.Name);
      for (const std::string& v : a.Values) AppendLine(record_, a.Name, v);
    }
    Put(record_);
  }

  void Finish() override {}

 private:
  bool Written(const std::string& name) const {
    for (const std::string& w : written_)
      if (EqualsNoCase(w, name)) return true;
    return false;
  }
  void Put(std::string_view bytes) {
    if (!ctx_.Sink->Write(bytes)) throw TExportFailure(ctx_.Sink->Error());
  }

  std::string record_;
  std::vector<std::string> written_;
};

}  // namespace

std::unique_ptr<TFormatWriter> MakeLdifRecordWriter(TWriterContext& ctx) {
  return std::make_unique<TLdifRecordWriter>(ctx);
}

}  // namespace quorvel
