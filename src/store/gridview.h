// A profile's saved layout of the results grid, as the catalogue keeps it
// (`profiles.view`) and as both programs apply it: the columns in the order
// shown with their widths and which are hidden, and the sort. The window
// saves it when the user changes the grid; quorvel-report applies it to its
// report (store/profilerun.h), so a report shaped in the window can be
// scheduled. No Qt here: the headless runner reads it too.
//
// What it does:
//  - FormatView/ParseView turn a view into the catalogue's text and back.
//    The text is lines "column<TAB>width<TAB>shown|hidden<TAB>name" in the
//    order shown, then "sort<TAB>asc|desc<TAB>name" per sort key; names
//    escape TAB, line feed and backslash as \t, \n and \\. The empty view
//    (today's layout) is the empty text.
//  - ShownColumns gives the columns a report writes, in order, for a table
//    with the columns `table`: the view's visible columns the table has,
//    then the table's columns the view does not name (an attribute added to
//    the profile since), in the table's order.
//  - ApplyView sets a row query's columns and order from a view.
//  - ParseColumnList reads the "--sort" and "--columns" lists of
//    quorvel-report against a table's columns ("dn" names the key column;
//    a leading "-" asks for descending order where allowed).
//
// How it fails: ParseView ignores lines it does not know (a newer version's)
// and never fails; ParseColumnList returns the error naming the first
// unknown column. Names compare as the engine compares them.
//
//   TGridView v = ParseView(profile.view);
//   TRowQuery q("export");
//   ApplyView(v, tableColumns, q);
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sqlstore/rowquery.h"

namespace quorvel {

struct TViewColumn {
  std::string name;
  int width = 0;  // pixels; 0 for the grid's default
  bool hidden = false;
};

struct TGridView {
  std::vector<TViewColumn> columns;  // in the order shown; empty: the table's order
  std::vector<TSortKey> sort;
  bool Empty() const { return columns.empty() && sort.empty(); }
};

std::string FormatView(const TGridView& view);
TGridView ParseView(std::string_view text);

std::vector<std::string> ShownColumns(const TGridView& view, const std::vector<std::string>& table);
// Columns stay empty (every column, in the table's order) when the view
// shows exactly those.
void ApplyView(const TGridView& view, const std::vector<std::string>& table, TRowQuery& query);

// "cn,-sn,dn" -> the sort keys (withDirection) or the column names; names as
// the table spells them, "dn" (any case) as the key column.
std::optional<std::string> ParseColumnList(std::string_view list,
                                           const std::vector<std::string>& table,
                                           const std::string& key, bool withDirection,
                                           std::vector<TSortKey>& out);

}  // namespace quorvel
