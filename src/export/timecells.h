// Which cells of a report hold a directory time in its readable form, so that
// the workbook writes them as date-time cells that sort and filter as dates.
//
// A cell is a time when the attribute its value belongs to takes one of the
// time forms of ldap/valueforms.h (pwdLastSet, whenCreated, ...) and its text
// is exactly "YYYY-MM-DD hh:mm:ss" (ParseReadableTime), the form the rows
// give those values with readable values on. The attribute is the column's
// title for the rows of a profile run; in the property table (columns Icon,
// Name, Value, Type, Size) a Value cell belongs to the attribute its row's
// Name cell names. The values these attributes hold as the directory sends
// them (a count of 100 ns, a generalized time) never have that form, so with
// readable values off, and in every other cell, nothing changes; a time of
// several values ("[...][...]") stays text too.
//
//   TTimeCells times(ctx.Titles);
//   TCivilTime t;
//   if (times.Time(row, cell, t)) WriteDateTime(t); else WriteAsBefore(cell);
#pragma once

#include <string>
#include <vector>

#include "export/writers.h"
#include "ldap/valueforms.h"

namespace quorvel {

class TTimeCells {
 public:
  // titles: every column of the source, as TWriterContext::Titles.
  explicit TTimeCells(const std::vector<std::string>& titles);
  // True when `cell` of `row` is a time (see above), the moment then in `time`.
  bool Time(const TRow& row, const TCell& cell, TCivilTime& time) const;

 private:
  std::vector<bool> timeColumn_;  // per source column: its title is a time attribute
  int nameColumn_ = -1;           // the property table's Name and Value columns
  int valueColumn_ = -1;
};

}  // namespace quorvel
