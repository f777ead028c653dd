// Octet strings written as hexadecimal text ("30 03 02 01 05") for tests.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace quorvel::test {

inline std::string Hex(std::string_view text) {
  std::string out;
  int pending = -1;
  for (char c : text) {
    int v;
    if (c >= '0' && c <= '9') {
      v = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      v = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      v = c - 'A' + 10;
    } else {
      continue;
    }
    if (pending < 0) {
      pending = v;
    } else {
      out.push_back(static_cast<char>(pending * 16 + v));
      pending = -1;
    }
  }
  return out;
}

inline std::string ToHex(std::string_view octets) {
  std::string out;
  char buf[4];
  for (char c : octets) {
    std::snprintf(buf, sizeof buf, out.empty() ? "%02X" : " %02X", static_cast<unsigned char>(c));
    out += buf;
  }
  return out;
}

}  // namespace quorvel::test
