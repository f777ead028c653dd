#include "ldap/ber.h"

#include <limits>

std::string EncodeLength(int32_t length) {
  if (length < 0) length = 0;
  if (length < 0x80) return std::string(1, static_cast<char>(length));
  std::string octets;
  for (uint32_t n = static_cast<uint32_t>(length); n != 0; n >>= 8) {
    octets.insert(octets.begin(), static_cast<char>(n & 0xFF));
  }
  return static_cast<char>(0x80 + octets.size()) + octets;
}

int32_t DecodeLength(std::string_view data, std::size_t& cursor) {
  if (cursor >= data.size()) return -1;
  const auto first = static_cast<uint8_t>(data[cursor++]);
  if (first < 0x80) return first;
  const std::size_t count = first & 0x7F;
  if (count > data.size() - cursor) {
    cursor = data.size();
    return -1;
  }
  uint64_t value = 0;
  bool overflow = false;
  for (std::size_t i = 0; i < count; ++i) {
    value = (value << 8) | static_cast<uint8_t>(data[cursor++]);
    if (value > static_cast<uint64_t>(quorvel::kMaxBerLength)) overflow = true;
  }
  return overflow ? -1 : static_cast<int32_t>(value);
}

std::string EncodeInteger(int32_t value) {
  const auto bits = static_cast<uint32_t>(value);
  std::string out;
  if (value < 0) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(bits >> shift));
    return out;
  }
  uint32_t n = bits;
  do {
    out.insert(out.begin(), static_cast<char>(n & 0xFF));
    n >>= 8;
  } while (n != 0);
  if (static_cast<uint8_t>(out[0]) & 0x80) out.insert(out.begin(), '\0');
  return out;
}

std::string EncodeObject(std::string_view content, int tag) {
  std::string out;
  const std::string length = EncodeLength(static_cast<int32_t>(content.size()));
  out.reserve(1 + length.size() + content.size());
  out.push_back(static_cast<char>(tag));
  out += length;
  out += content;
  return out;
}

namespace quorvel {

int32_t DecodeSignedContent(std::string_view content) {
  if (content.empty()) return 0;
  const bool negative = static_cast<uint8_t>(content[0]) >= 0x80;
  uint32_t y = 0;
  for (char c : content) {
    auto octet = static_cast<uint8_t>(c);
    if (negative) octet = static_cast<uint8_t>(~octet);
    y = (y << 8) | octet;
  }
  if (!negative) return static_cast<int32_t>(y);
  return static_cast<int32_t>(-static_cast<int64_t>(y) - 1);
}

std::string ItemText(int tag, std::string_view content) {
  switch (tag) {
    case 0x01:
    case 0x02:
    case 0x0A:
      return std::to_string(DecodeSignedContent(content));
    case 0x05:
      return std::string();
    case 0x06:
      return OidToText(content);
    case 0x40: {
      std::string text;
      for (std::size_t i = 0; i < content.size(); ++i) {
        if (i) text.push_back('.');
        text += std::to_string(static_cast<uint8_t>(content[i]));
      }
      return text;
    }
    case 0x41:
    case 0x42:
    case 0x43: {
      uint32_t y = 0;
      for (char c : content) y = (y << 8) | static_cast<uint8_t>(c);
      return std::to_string(static_cast<int32_t>(y));
    }
    default:
      return std::string(content);
  }
}

}  // namespace quorvel

std::string ReadItem(std::string_view data, std::size_t& cursor, int& tag) {
  bool complete = false;
  const std::string_view content = quorvel::ReadItemView(data, cursor, tag, &complete);
  // A missing or cut-short item has an empty value whatever its tag: an integer
  // must not read as 0, which a result code would take for success.
  if (!complete || (tag & 0x20)) return std::string(content);
  return quorvel::ItemText(tag, content);
}

uint32_t DecodeOidItem(std::string_view data, std::size_t& cursor) {
  uint32_t value = 0;
  while (cursor < data.size()) {
    const auto octet = static_cast<uint8_t>(data[cursor++]);
    value = value * 128 + (octet & 0x7F);
    if (octet < 0x80) break;
  }
  return value;
}

std::string OidToText(std::string_view content) {
  std::size_t cursor = 0;
  std::string text;
  if (content.empty()) return text;
  const uint32_t first = DecodeOidItem(content, cursor);
  if (first < 40) {
    text = "0." + std::to_string(first);
  } else if (first < 80) {
    text = "1." + std::to_string(first - 40);
  } else {
    text = "2." + std::to_string(first - 80);
  }
  while (cursor < content.size()) {
    text.push_back('.');
    text += std::to_string(DecodeOidItem(content, cursor));
  }
  return text;
}
