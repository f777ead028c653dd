// Basic Encoding Rules items: the pieces every LDAP message is made of.
//
// Only definite lengths and single-octet tags are handled. Everything works on
// octet strings (std::string / std::string_view holding any byte values).
// Cursors are zero-based indexes of the next unread octet. The reader never
// fails loudly: a buffer too short for a tag and a length gives an empty value
// with tag 0x05, content running past the end gives an empty value with the
// item's own tag. It never reads outside the buffer it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Universal tags used by the program.
inline constexpr int ASN1_BOOL = 0x01;
inline constexpr int ASN1_INT = 0x02;
inline constexpr int ASN1_OCTSTR = 0x04;
inline constexpr int ASN1_NULL = 0x05;
inline constexpr int ASN1_OBJID = 0x06;
inline constexpr int ASN1_ENUM = 0x0A;
inline constexpr int ASN1_SEQ = 0x30;
inline constexpr int ASN1_SETOF = 0x31;

// Length octets: short form below 128, otherwise 0x80 + count, big-endian octets.
std::string EncodeLength(int32_t length);
// Reads the length octets at cursor and moves past them. An 0x80 octet
// (indefinite form) reads as 0. Returns -1 when the length octets run past the
// end of data (cursor then at the end) or the value does not fit in 31 bits.
int32_t DecodeLength(std::string_view data, std::size_t& cursor);
// Content octets of an INTEGER or ENUMERATED (no tag, no length).
std::string EncodeInteger(int32_t value);
// tag + EncodeLength(content size) + content.
std::string EncodeObject(std::string_view content, int tag);
// Reads one item at cursor; see the header comment for failures. A constructed
// item (tag bit 0x20) returns a copy of its content and leaves the cursor on its
// first content octet, so the next call reads the first inner item. A primitive
// item returns its value as text (integers in decimal, OIDs dotted, ...) and
// moves past it.
std::string ReadItem(std::string_view data, std::size_t& cursor, int& tag);
// One base-128 subidentifier of an OBJECT IDENTIFIER.
uint32_t DecodeOidItem(std::string_view data, std::size_t& cursor);
// Dotted decimal text of the content octets of an OBJECT IDENTIFIER.
std::string OidToText(std::string_view content);

namespace quorvel {
// Largest item length accepted by the reader (fits a 32-bit signed length).
inline constexpr int32_t kMaxBerLength = INT32_MAX;

// ReadItem without copying: returns a view of the item's content octets (for
// every tag) with the same cursor rules as ReadItem. The view points into data.
// When complete is given it tells whether a whole item was there (false for a
// buffer too short for a tag and a length, or content running past the end).
// Defined here so that the walks over every item of a search's entries read
// an item without a call: a response is mostly items of short lengths.
inline std::string_view ReadItemView(std::string_view data, std::size_t& cursor, int& tag,
                                     bool* complete = nullptr) {
  tag = ASN1_NULL;
  if (complete) *complete = false;
  if (cursor > data.size() || data.size() - cursor < 2) return {};
  tag = static_cast<uint8_t>(data[cursor++]);
  const auto first = static_cast<uint8_t>(data[cursor]);
  int32_t length;
  if (first < 0x80) {
    length = first;  // the short form, as DecodeLength reads it
    ++cursor;
  } else {
    length = DecodeLength(data, cursor);
  }
  if (length < 0 || static_cast<std::size_t>(length) > data.size() - cursor) return {};
  if (complete) *complete = true;
  std::string_view content = data.substr(cursor, static_cast<std::size_t>(length));
  if (!(tag & 0x20)) cursor += content.size();
  return content;
}
// The text ReadItem gives for a primitive item with this tag and content.
std::string ItemText(int tag, std::string_view content);
// Content octets read as a big-endian two's-complement 32-bit integer (only the
// last four octets count); the value of BOOLEAN, INTEGER and ENUMERATED items.
int32_t DecodeSignedContent(std::string_view content);
}  // namespace quorvel
