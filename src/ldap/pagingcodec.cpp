#include "ldap/pagingcodec.h"

#include "ldap/ber.h"
#include "ldap/results.h"

namespace quorvel {

namespace {

constexpr int kControlsTag = 0xA0;

bool HasItem(std::string_view data, std::size_t cursor) {
  return cursor <= data.size() && data.size() - cursor >= 2;
}

// Reads one whole item: its content and tag. A constructed item is stepped
// over as a whole (its content is returned, not entered). False when the item
// is cut short.
bool NextItem(std::string_view data, std::size_t& cursor, std::string_view& content, int& tag) {
  if (!HasItem(data, cursor)) return false;
  bool complete = false;
  content = ReadItemView(data, cursor, tag, &complete);
  if (!complete) return false;
  if (tag & 0x20) cursor += content.size();
  return true;
}

// Decimal digits only, at most 18 of them (so no overflow).
std::optional<uint64_t> Number(std::string_view text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return value;
}

}  // namespace

std::string EncodePagedResultsControl(int32_t page_size, std::string_view cookie) {
  const std::string value = EncodeObject(
      EncodeObject(EncodeInteger(page_size), ASN1_INT) + EncodeObject(cookie, ASN1_OCTSTR),
      ASN1_SEQ);
  const std::string control = EncodeObject(
      EncodeObject(kPagedResultsOid, ASN1_OCTSTR) + EncodeObject(value, ASN1_OCTSTR), ASN1_SEQ);
  return EncodeObject(control, kControlsTag);
}

bool DecodePagedResultsCookie(std::string_view done_rest, std::string& cookie) {
  std::size_t cursor = 0;
  std::string_view item, controls;
  int tag = 0;
  bool found = false;
  while (NextItem(done_rest, cursor, item, tag)) {
    if (tag == kControlsTag) {
      controls = item;
      found = true;
      break;
    }
  }
  if (!found) return false;
  cursor = 0;
  std::string_view control;
  while (NextItem(controls, cursor, control, tag)) {
    if (tag != ASN1_SEQ) continue;
    // Control ::= SEQUENCE { controlType, criticality BOOLEAN OPTIONAL,
    //                        controlValue OCTET STRING OPTIONAL }
    std::size_t at = 0;
    std::string_view oid;
    if (!NextItem(control, at, oid, tag) || tag != ASN1_OCTSTR || oid != kPagedResultsOid) continue;
    std::string_view value;
    bool has_value = false;
    while (NextItem(control, at, value, tag)) {
      if (tag == ASN1_OCTSTR) {
        has_value = true;
        break;
      }
    }
    if (!has_value) return false;
    std::size_t v = 0;
    std::string_view seq, size, got;
    if (!NextItem(value, v, seq, tag) || tag != ASN1_SEQ) return false;
    std::size_t s = 0;
    if (!NextItem(seq, s, size, tag) || tag != ASN1_INT) return false;
    if (!NextItem(seq, s, got, tag) || tag != ASN1_OCTSTR) return false;
    cookie.assign(got);
    return true;
  }
  return false;
}

std::optional<TValueRange> ParseValueRange(std::string_view description) {
  constexpr std::string_view kOption = "range=";
  std::size_t start = description.find(';');
  while (start != std::string_view::npos) {
    const std::size_t end = description.find(';', start + 1);
    const std::string_view option = description.substr(
        start + 1, end == std::string_view::npos ? std::string_view::npos : end - start - 1);
    if (EqualsNoCaseAscii(option.substr(0, kOption.size()), kOption)) {
      const std::string_view bounds = option.substr(kOption.size());
      const std::size_t dash = bounds.find('-');
      if (dash == std::string_view::npos) return std::nullopt;
      const auto low = Number(bounds.substr(0, dash));
      const std::string_view high_text = bounds.substr(dash + 1);
      TValueRange range;
      if (!low) return std::nullopt;
      range.Low = *low;
      if (high_text == "*") {
        range.ToEnd = true;
      } else {
        const auto high = Number(high_text);
        if (!high || *high < *low) return std::nullopt;
        range.High = *high;
      }
      range.Name = std::string(description.substr(0, start));
      if (end != std::string_view::npos) range.Name += description.substr(end);
      if (range.Name.empty()) return std::nullopt;
      return range;
    }
    start = end;
  }
  return std::nullopt;
}

}  // namespace quorvel
