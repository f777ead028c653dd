#include "store/rows.h"

#include <utility>

namespace quorvel {

namespace {
char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string_view TrimView(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= 32) --e;
  return text.substr(b, e - b);
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

}  // namespace

std::string ValueCellText(std::string_view raw, bool binaryName, TValueForm form, bool* binary) {
  const bool isBinary = binaryName || !IsTextValue(raw);
  if (binary) *binary = isBinary;
  std::string text;
  if (form != vfPlain && ReadableText(form, raw, text)) return text;
  // Binary octets are encoded whole: trimming bytes of code 32 or less off a
  // SID or a photo would make its Base64 decode to other data.
  return isBinary ? EncodeBase64(raw) : std::string(TrimView(raw));
}

std::string TrimControl(std::string_view text) {
  return std::string(TrimView(text));
}

std::vector<std::string> SplitAttributeList(std::string_view att) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (;;) {
    const std::size_t pos = att.find(';', start);
    if (pos == std::string_view::npos) {
      pieces.emplace_back(att.substr(start));
      return pieces;
    }
    pieces.emplace_back(att.substr(start, pos - start));
    start = pos + 1;
  }
}

TLDAPAttribute FindRequestedAttribute(const TLDAPResult& entry, std::string_view requested) {
  const std::string_view wanted = TrimView(requested);
  const TLDAPAttributeList attrs = entry.Attributes();
  for (int i = attrs.Count() - 1; i >= 0; --i) {
    TLDAPAttribute a = attrs.Items(i);
    if (EqualsIgnoringCase(TrimView(a.AttributeName()), wanted)) return a;
  }
  return TLDAPAttribute();
}

std::string AttributeCellText(const TLDAPAttribute& attribute, TValueForm form) {
  const int count = attribute.Count();
  if (count == 0) return std::string();
  const bool binaryName = attribute.IsBinary();
  if (count == 1) return ValueCellText(attribute.Value(0), binaryName, form);
  std::string cell;
  for (int i = 0; i < count; ++i) {
    cell.push_back('[');
    cell += ValueCellText(attribute.Value(i), binaryName, form);
    cell.push_back(']');
  }
  return cell;
}

std::string RequestedCellText(const TLDAPResult& entry, std::string_view requested, bool readable) {
  const TLDAPAttribute a = FindRequestedAttribute(entry, requested);
  return a ? AttributeCellText(a, readable ? ReadableForm(requested) : vfPlain) : std::string();
}

std::vector<TRequestedColumn> RequestedColumns(std::string_view att, bool readable) {
  std::vector<TRequestedColumn> columns;
  for (std::string& name : SplitAttributeList(att)) {
    const TValueForm form = readable ? ReadableForm(name) : vfPlain;
    columns.push_back({std::move(name), form});
  }
  return columns;
}

std::vector<std::string> BuildExportRow(const TLDAPResult& entry,
                                        const std::vector<TRequestedColumn>& columns) {
  std::vector<std::string> row;
  row.reserve(columns.size() + 1);
  row.emplace_back(entry.ObjectName());
  for (const TRequestedColumn& c : columns) {
    const TLDAPAttribute a = FindRequestedAttribute(entry, c.name);
    row.push_back(a ? AttributeCellText(a, c.form) : std::string());
  }
  return row;
}

std::vector<std::string> BuildExportRow(const TLDAPResult& entry, std::string_view att,
                                        bool readable) {
  return BuildExportRow(entry, RequestedColumns(att, readable));
}

TEntryValues BuildEntryValues(const TLDAPResult& entry,
                              const std::vector<TRequestedColumn>& columns) {
  TEntryValues v;
  v.DN.assign(entry.ObjectName());
  v.Columns.resize(columns.size() + 1);
  for (std::size_t c = 0; c < columns.size(); ++c) {
    const TLDAPAttribute a = FindRequestedAttribute(entry, columns[c].name);
    if (!a || a.Count() == 0) continue;
    TEntryAttribute& out = v.Columns[c + 1];
    out.Name.assign(a.AttributeName());
    out.Values.reserve(static_cast<std::size_t>(a.Count()));
    for (int i = 0; i < a.Count(); ++i) out.Values.emplace_back(a.Value(i));
  }
  return v;
}

TPropertyRow BuildPropertyRow(const TLDAPAttribute& attribute, int value_index, bool readable) {
  const std::string_view raw = attribute.Value(value_index);
  const std::string_view name = attribute.AttributeName();
  bool binary = false;
  TPropertyRow row;
  row.Icon = "0";
  row.Name = std::string(name);
  row.Value =
      ValueCellText(raw, attribute.IsBinary(), readable ? ReadableForm(name) : vfPlain, &binary);
  row.Type = binary ? "BINARY" : "TEXT";
  row.Size = std::to_string(raw.size());
  return row;
}

std::vector<TPropertyRow> BuildPropertyRows(const TLDAPResult& entry, bool readable) {
  std::vector<TPropertyRow> rows;
  const TLDAPAttributeList attrs = entry.Attributes();
  for (int i = 0; i < attrs.Count(); ++i) {
    const TLDAPAttribute a = attrs.Items(i);
    for (int j = 0; j < a.Count(); ++j) rows.push_back(BuildPropertyRow(a, j, readable));
  }
  return rows;
}

}  // namespace quorvel
