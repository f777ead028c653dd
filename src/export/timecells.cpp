#include "export/timecells.h"

namespace quorvel {

TTimeCells::TTimeCells(const std::vector<std::string>& titles) {
  timeColumn_.reserve(titles.size());
  for (const std::string& t : titles) timeColumn_.push_back(IsTimeForm(ReadableForm(t)));
  // The property table's layout, as the working store creates it.
  static const std::vector<std::string> kProperty = {"Icon", "Name", "Value", "Type", "Size"};
  if (titles == kProperty) {
    nameColumn_ = 1;
    valueColumn_ = 2;
  }
}

bool TTimeCells::Time(const TRow& row, const TCell& cell, TCivilTime& time) const {
  if (row.Header || cell.Index < 0) return false;
  bool timeAttribute = static_cast<std::size_t>(cell.Index) < timeColumn_.size() &&
                       timeColumn_[static_cast<std::size_t>(cell.Index)];
  if (cell.Index == valueColumn_) {
    for (const TCell& other : row.Cells)
      if (other.Index == nameColumn_ && other.Value != nullptr)
        timeAttribute = IsTimeForm(ReadableForm(*other.Value));
  }
  return timeAttribute && ParseReadableTime(cell.Text, time);
}

}  // namespace quorvel
