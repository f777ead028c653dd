#include "ldap/response.h"

#include <array>

#include "ldap/ber.h"
#include "ldap/results.h"

namespace quorvel {

namespace {

bool IsLDAPResultTag(int tag) {
  switch (tag) {
    case 0x61:
    case 0x65:
    case 0x67:
    case 0x69:
    case 0x6B:
    case 0x6D:
    case 0x6F:
    case 0x78:
      return true;
    default:
      return false;
  }
}

bool HasTwoOctets(std::string_view data, std::size_t cursor) {
  return cursor <= data.size() && data.size() - cursor >= 2;
}

// Reads one item and hands its value to sink(value, in_data): octet strings as
// views of the message, every other primitive tag as ReadItem's text (in_data
// false: the view ends with the call). A constructed item (never a proper name
// or value) gives its content and is stepped over as a whole, so that nested
// items cannot make the same octets count again at every level.
template <typename Sink>
int ReadValue(std::string_view data, std::size_t& cursor, Sink&& sink) {
  int tag = 0;
  bool complete = false;
  const std::string_view content = ReadItemView(data, cursor, tag, &complete);
  if (tag & 0x20) {
    cursor += content.size();
    sink(content, true);
  } else if (tag == ASN1_OCTSTR || !complete) {
    sink(content, true);
  } else {
    sink(std::string_view(ItemText(tag, content)), false);
  }
  return tag;
}

// Walks the attribute list of a SearchResultEntry remainder (the cursor just
// past the DN), calling on_attribute(name) and on_value(value) in order.
template <typename OnAttribute, typename OnValue>
void WalkAttributes(std::string_view rest, std::size_t cursor, OnAttribute&& on_attribute,
                    OnValue&& on_value) {
  int tag = 0;
  ReadItemView(rest, cursor, tag);
  if (tag != ASN1_SEQ) return;
  while (HasTwoOctets(rest, cursor)) {
    const std::string_view item = ReadItemView(rest, cursor, tag);
    if (tag != ASN1_SEQ) continue;
    const std::size_t end = cursor + item.size();
    ReadValue(rest, cursor, on_attribute);
    ReadItemView(rest, cursor, tag);
    if (tag != ASN1_SETOF) continue;
    while (cursor < end) {
      const std::size_t before = cursor;
      ReadValue(rest, cursor, on_value);
      if (cursor == before) break;  // fewer than two octets left in the message
    }
  }
}

}  // namespace

int32_t TextToInt(std::string_view text, int32_t fallback) {
  if (text.empty()) return fallback;
  std::size_t i = 0;
  bool negative = false;
  if (text[0] == '-' || text[0] == '+') {
    negative = text[0] == '-';
    i = 1;
  }
  if (i == text.size()) return fallback;
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return fallback;
    value = value * 10 + (c - '0');
    if (value > static_cast<int64_t>(INT32_MAX) + 1) return fallback;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return fallback;
  return static_cast<int32_t>(value);
}

TDecodedResponse DecodeMessage(std::string_view message, int32_t expected_id,
                               std::vector<std::string>& referrals) {
  TDecodedResponse out;
  std::size_t cursor = 0;
  int tag = 0;
  ReadItemView(message, cursor, tag);  // the envelope: descend into it
  const std::string id = ReadItem(message, cursor, tag);
  if (tag != ASN1_INT || TextToInt(id, 0) != expected_id) return out;
  ReadItemView(message, cursor, tag);
  out.ResponseTag = tag;
  if (IsLDAPResultTag(tag)) {
    out.ResultCode = TextToInt(ReadItem(message, cursor, tag), -1);
    out.MatchedDN = ReadItem(message, cursor, tag);
    out.ResultString = ReadItem(message, cursor, tag);
    if (out.ResultString.empty()) out.ResultString = ResultCodeText(out.ResultCode);
    if (out.ResultCode == 10) {
      const std::string_view refs = ReadItemView(message, cursor, tag);
      if (tag == 0xA3) {
        cursor += refs.size();  // the referral sequence is walked on its own
        ParseSearchReference(refs, referrals);
      }
    }
  }
  if (cursor < message.size()) out.Rest = message.substr(cursor);
  return out;
}

namespace {

// The names and values of an entry as the measuring walk meets them, kept when
// they are few and all views of the message (most entries), so that the
// octets are walked once; otherwise the entry is walked again to be filled.
class TKeptItems {
 public:
  void Keep(std::string_view octets, bool name, bool in_message) {
    if (!in_message || count_ == kKept) {
      whole_ = false;
      return;
    }
    items_[count_++] = {octets.data(), octets.size(), name};
  }
  bool Whole() const { return whole_; }
  template <typename Build>
  void Replay(Build& build) const {
    for (std::size_t i = 0; i < count_; ++i) {
      const std::string_view octets(items_[i].data, items_[i].size);
      if (items_[i].name) {
        build.Attribute(octets);
      } else {
        build.Value(octets);
      }
    }
  }

 private:
  // Plain fields, so that the array is not cleared for every entry.
  struct Item {
    const char* data;
    std::size_t size;
    bool name;
  };
  static constexpr std::size_t kKept = 64;
  std::array<Item, kKept> items_;
  std::size_t count_ = 0;
  bool whole_ = true;
};

}  // namespace

void ParseSearchEntry(std::string_view rest, TLDAPResult& entry) {
  std::size_t cursor = 0;
  std::string_view dn;
  std::string dn_text;  // a DN that is not an octet string, as ReadItem's text
  ReadValue(rest, cursor, [&](std::string_view v, bool in_message) {
    if (!in_message) v = dn_text.assign(v);
    dn = v;
  });

  // First pass: count and measure, so the entry is allocated once at its size.
  std::size_t attributes = 0, values = 0, octets = dn.size();
  TKeptItems kept;
  WalkAttributes(
      rest, cursor,
      [&](std::string_view name, bool in_message) {
        ++attributes;
        octets += name.size();
        kept.Keep(name, true, in_message);
      },
      [&](std::string_view value, bool in_message) {
        ++values;
        octets += value.size();
        kept.Keep(value, false, in_message);
      });
  // Then copy each name and value once, into place.
  TResultBuilder build(entry, dn, attributes, values, octets);
  if (kept.Whole()) {
    kept.Replay(build);
    return;
  }
  WalkAttributes(
      rest, cursor, [&](std::string_view name, bool) { build.Attribute(name); },
      [&](std::string_view value, bool) { build.Value(value); });
}

void ParseSearchReference(std::string_view rest, std::vector<std::string>& referrals) {
  std::size_t cursor = 0;
  while (HasTwoOctets(rest, cursor)) {
    ReadValue(rest, cursor, [&](std::string_view url, bool) { referrals.emplace_back(url); });
  }
}

std::string ResultCodeText(int32_t code) {
  switch (code) {
    case 0:
      return "Success";
    case 1:
      return "Operations error";
    case 2:
      return "Protocol error";
    case 3:
      return "Time limit Exceeded";
    case 4:
      return "Size limit Exceeded";
    case 5:
      return "Compare FALSE";
    case 6:
      return "Compare TRUE";
    case 7:
      return "Auth method not supported";
    case 8:
      return "Strong auth required";
    case 9:
      return "-- reserved --";
    case 10:
      return "Referal";
    case 11:
      return "Admin limit exceeded";
    case 12:
      return "Unavailable critical extension";
    case 13:
      return "Confidentality required";
    case 14:
      return "Sasl bind in progress";
    case 16:
      return "No such attribute";
    case 17:
      return "Undefined attribute type";
    case 18:
      return "Inappropriate matching";
    case 19:
      return "Constraint violation";
    case 20:
      return "Attribute or value exists";
    case 21:
      return "Invalid attribute syntax";
    case 32:
      return "No such object";
    case 33:
      return "Alias problem";
    case 34:
      return "Invalid DN syntax";
    case 36:
      return "Alias dereferencing problem";
    case 48:
      return "Inappropriate authentication";
    case 49:
      return "Invalid credentials";
    case 50:
      return "Insufficient access rights";
    case 51:
      return "Busy";
    case 52:
      return "Unavailable";
    case 53:
      return "Unwilling to perform";
    case 54:
      return "Loop detect";
    case 64:
      return "Naming violation";
    case 65:
      return "Object class violation";
    case 66:
      return "Not allowed on non leaf";
    case 67:
      return "Not allowed on RDN";
    case 68:
      return "Entry already exists";
    case 69:
      return "Object class mods prohibited";
    case 71:
      return "Affects multiple DSAs";
    case 80:
      return "Other";
    default:
      return "--unknown--";
  }
}

}  // namespace quorvel
