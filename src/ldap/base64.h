// Base64 with the standard alphabet (A-Z, a-z, 0-9, "+", "/") and "=" padding.
#pragma once

#include <string>
#include <string_view>

namespace quorvel {
// Encodes any octets; the result is padded with "=" to a multiple of four.
std::string EncodeBase64(std::string_view octets);
// Skips every character outside the alphabet (padding and line breaks too); a
// final group of two or three characters gives one or two octets.
std::string DecodeBase64(std::string_view text);
}  // namespace quorvel
