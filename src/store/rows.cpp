#include "store/rows.h"

#include <array>
#include <optional>
#include <utility>

namespace quorvel {

namespace {
char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string_view TrimView(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= 32) --e;
  return text.substr(b, e - b);
}

inline bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    // Most names come back as they were asked for: equal octets need no folding.
    if (a[i] != b[i] && LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

// The attribute a requested name selects: the last whose trimmed description
// equals the trimmed name (`wanted`), ignoring ASCII letter case.
bool Selects(std::string_view wanted, const TLDAPAttributeView& a) {
  return EqualsIgnoringCase(TrimView(a.AttributeName()), wanted);
}

// The attribute each requested column selects, found in one walk of the entry
// rather than one walk per column.
class TSelected {
 public:
  TSelected(const TLDAPResult& entry, const std::vector<TRequestedColumn>& columns)
      : n_(columns.size()) {
    if (n_ > kInline) {
      spill_wanted_.resize(n_);
      spill_found_.resize(n_);
      wanted_ = spill_wanted_.data();
      found_ = spill_found_.data();
    }
    for (std::size_t c = 0; c < n_; ++c) {
      const std::string_view wanted = TrimView(columns[c].name);
      wanted_[c] = {wanted.data(), wanted.size()};
    }
    entry.ForEachAttribute([&](const TLDAPAttributeView& a) {
      const std::string_view name = TrimView(a.AttributeName());
      for (std::size_t c = 0; c < n_; ++c)
        if (EqualsIgnoringCase(name, wanted_[c].View())) found_[c] = a;
    });
  }
  TSelected(const TSelected&) = delete;
  TSelected& operator=(const TSelected&) = delete;

  // The attribute of column c; empty when the entry has none.
  const std::optional<TLDAPAttributeView>& operator[](std::size_t c) const { return found_[c]; }

 private:
  // A requested name, trimmed; plain fields, so that the array is not
  // cleared for every entry.
  struct Wanted {
    const char* data;
    std::size_t size;
    std::string_view View() const { return {data, size}; }
  };
  static constexpr std::size_t kInline = 16;  // columns found without an allocation
  std::size_t n_;
  std::array<Wanted, kInline> inline_wanted_;
  std::array<std::optional<TLDAPAttributeView>, kInline> inline_found_;
  std::vector<Wanted> spill_wanted_;
  std::vector<std::optional<TLDAPAttributeView>> spill_found_;
  Wanted* wanted_ = inline_wanted_.data();
  std::optional<TLDAPAttributeView>* found_ = inline_found_.data();
};

// Appends the text of one value (ValueCellText) to out.
void AppendValueText(std::string& out, std::string_view raw, bool binaryName, TValueForm form) {
  if (form != vfPlain) {
    std::string text;
    if (ReadableText(form, raw, text)) {
      if (out.empty()) {
        out = std::move(text);
      } else {
        out += text;
      }
      return;
    }
  }
  // Binary octets are encoded whole: trimming bytes of code 32 or less off a
  // SID or a photo would make its Base64 decode to other data.
  if (binaryName || !IsTextValue(raw)) {
    out += EncodeBase64(raw);
  } else {
    out += TrimView(raw);
  }
}

// Appends the cell text of one attribute, for a handle or a view alike: its
// one value's text, or every value's in brackets.
template <typename Attribute>
void AppendCellText(std::string& cell, const Attribute& attribute, TValueForm form) {
  const int count = attribute.Count();
  const bool binaryName = count > 0 && attribute.IsBinary();
  if (count == 1) {
    AppendValueText(cell, attribute.Value(0), binaryName, form);
    return;
  }
  for (int i = 0; i < count; ++i) {
    cell.push_back('[');
    AppendValueText(cell, attribute.Value(i), binaryName, form);
    cell.push_back(']');
  }
}

// The cell text of one attribute.
template <typename Attribute>
std::string CellText(const Attribute& attribute, TValueForm form) {
  std::string cell;
  AppendCellText(cell, attribute, form);
  return cell;
}

}  // namespace

std::string ValueCellText(std::string_view raw, bool binaryName, TValueForm form, bool* binary) {
  if (binary) *binary = binaryName || !IsTextValue(raw);
  std::string text;
  AppendValueText(text, raw, binaryName, form);
  return text;
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
  int found = -1;
  entry.ForEachAttribute([&](const TLDAPAttributeView& a) {
    if (Selects(wanted, a)) found = a.Index();
  });
  return entry.Attributes().Items(found);
}

std::string AttributeCellText(const TLDAPAttribute& attribute, TValueForm form) {
  return CellText(attribute, form);
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
  const TSelected selected(entry, columns);
  for (std::size_t c = 0; c < columns.size(); ++c) {
    const std::optional<TLDAPAttributeView>& a = selected[c];
    row.push_back(a ? CellText(*a, columns[c].form) : std::string());
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
  const TSelected selected(entry, columns);
  for (std::size_t c = 0; c < columns.size(); ++c) {
    const std::optional<TLDAPAttributeView>& a = selected[c];
    const int count = a ? a->Count() : 0;
    if (count == 0) continue;
    TEntryAttribute& out = v.Columns[c + 1];
    out.Name.assign(a->AttributeName());
    out.Values.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) out.Values.emplace_back(a->Value(i));
  }
  return v;
}

void BuildExportRowAndValues(const TLDAPResult& entry, const std::vector<TRequestedColumn>& columns,
                             const std::vector<std::string>& names, std::vector<std::string>& row,
                             std::string& packed) {
  const std::string_view dn = entry.ObjectName();
  // The strings of the row before are written over: they keep their room.
  row.resize(columns.size() + 1);
  row[0].assign(dn);
  packed.clear();
  TEntryValuePacker pack(packed, &names);
  pack.DN(dn);
  const TSelected selected(entry, columns);
  for (std::size_t c = 0; c < columns.size(); ++c) {
    const std::optional<TLDAPAttributeView>& a = selected[c];
    row[c + 1].clear();
    if (a) AppendCellText(row[c + 1], *a, columns[c].form);
    const int count = a ? a->Count() : 0;
    if (count == 0) continue;
    pack.Attribute(c + 1, a->AttributeName(), static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) pack.Value(a->Value(i));
  }
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
