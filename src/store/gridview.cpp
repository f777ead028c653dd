#include "store/gridview.h"

#include <charconv>

#include "sqlstore/queryrows.h"

namespace quorvel {
namespace {

std::string Escape(std::string_view name) {
  std::string out;
  for (char c : name) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\t')
      out += "\\t";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

std::string Unescape(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char n = text[++i];
    out += n == 't' ? '\t' : n == 'n' ? '\n' : n;
  }
  return out;
}

std::vector<std::string_view> Split(std::string_view text, char sep) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i)
    if (i == text.size() || text[i] == sep) {
      parts.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  return parts;
}

// The table's spelling of `name`, or nothing.
const std::string* Find(const std::vector<std::string>& table, std::string_view name) {
  for (const std::string& c : table)
    if (SameText(c, name)) return &c;
  return nullptr;
}

}  // namespace

std::string FormatView(const TGridView& view) {
  std::string out;
  for (const TViewColumn& c : view.columns)
    out += "column\t" + std::to_string(c.width) + "\t" + (c.hidden ? "hidden" : "shown") + "\t" +
           Escape(c.name) + "\n";
  for (const TSortKey& k : view.sort)
    out += std::string("sort\t") + (k.Descending ? "desc" : "asc") + "\t" + Escape(k.Column) + "\n";
  return out;
}

TGridView ParseView(std::string_view text) {
  TGridView view;
  for (std::string_view line : Split(text, '\n')) {
    const std::vector<std::string_view> f = Split(line, '\t');
    if (f.size() == 4 && f[0] == "column") {
      TViewColumn c;
      std::from_chars(f[1].data(), f[1].data() + f[1].size(), c.width);
      if (c.width < 0 || c.width > 100000) c.width = 0;
      c.hidden = f[2] == "hidden";
      c.name = Unescape(f[3]);
      view.columns.push_back(std::move(c));
    } else if (f.size() == 3 && f[0] == "sort") {
      TSortKey k;
      k.Descending = f[1] == "desc";
      k.Column = Unescape(f[2]);
      view.sort.push_back(std::move(k));
    }
  }
  return view;
}

std::vector<std::string> ShownColumns(const TGridView& view,
                                      const std::vector<std::string>& table) {
  std::vector<std::string> shown;
  std::vector<bool> named(table.size(), false);
  for (const TViewColumn& c : view.columns)
    for (size_t i = 0; i < table.size(); ++i)
      if (!named[i] && SameText(table[i], c.name)) {
        named[i] = true;
        if (!c.hidden) shown.push_back(table[i]);
        break;
      }
  for (size_t i = 0; i < table.size(); ++i)
    if (!named[i]) shown.push_back(table[i]);
  return shown;
}

void ApplyView(const TGridView& view, const std::vector<std::string>& table, TRowQuery& query) {
  std::vector<std::string> shown = ShownColumns(view, table);
  query.Columns = shown == table ? std::vector<std::string>() : std::move(shown);
  query.Order.clear();
  for (const TSortKey& k : view.sort)
    if (const std::string* name = Find(table, k.Column))
      query.Order.push_back({*name, k.Descending});
}

std::optional<std::string> ParseColumnList(std::string_view list,
                                           const std::vector<std::string>& table,
                                           const std::string& key, bool withDirection,
                                           std::vector<TSortKey>& out) {
  out.clear();
  for (std::string_view item : Split(list, ',')) {
    TSortKey k;
    if (withDirection && !item.empty() && item.front() == '-') {
      k.Descending = true;
      item.remove_prefix(1);
    }
    const std::string* name = SameText(item, "dn") ? Find(table, key) : Find(table, item);
    if (!name || item.empty()) return "unknown column '" + std::string(item) + "'";
    k.Column = *name;
    out.push_back(std::move(k));
  }
  return std::nullopt;
}

}  // namespace quorvel
