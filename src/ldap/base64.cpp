#include "ldap/base64.h"

#include <cstdint>

namespace quorvel {

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int DecodeChar(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}
}  // namespace

std::string EncodeBase64(std::string_view octets) {
  std::string out;
  out.reserve((octets.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= octets.size(); i += 3) {
    const uint32_t n = static_cast<uint8_t>(octets[i]) << 16 |
                       static_cast<uint8_t>(octets[i + 1]) << 8 |
                       static_cast<uint8_t>(octets[i + 2]);
    out.push_back(kAlphabet[n >> 18 & 63]);
    out.push_back(kAlphabet[n >> 12 & 63]);
    out.push_back(kAlphabet[n >> 6 & 63]);
    out.push_back(kAlphabet[n & 63]);
  }
  const std::size_t rest = octets.size() - i;
  if (rest > 0) {
    uint32_t n = static_cast<uint8_t>(octets[i]) << 16;
    if (rest == 2) n |= static_cast<uint8_t>(octets[i + 1]) << 8;
    out.push_back(kAlphabet[n >> 18 & 63]);
    out.push_back(kAlphabet[n >> 12 & 63]);
    out.push_back(rest == 2 ? kAlphabet[n >> 6 & 63] : '=');
    out.push_back('=');
  }
  return out;
}

std::string DecodeBase64(std::string_view text) {
  std::string out;
  out.reserve(text.size() / 4 * 3 + 2);
  uint32_t group = 0;
  int count = 0;
  for (char c : text) {
    const int v = DecodeChar(static_cast<unsigned char>(c));
    if (v < 0) continue;
    group = group << 6 | static_cast<uint32_t>(v);
    if (++count == 4) {
      out.push_back(static_cast<char>(group >> 16));
      out.push_back(static_cast<char>(group >> 8));
      out.push_back(static_cast<char>(group));
      group = 0;
      count = 0;
    }
  }
  if (count == 2) {
    out.push_back(static_cast<char>(group >> 4));
  } else if (count == 3) {
    out.push_back(static_cast<char>(group >> 10));
    out.push_back(static_cast<char>(group >> 2));
  }
  return out;
}

}  // namespace quorvel
