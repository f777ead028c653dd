// Translates arbitrary text as a search filter; whatever comes out must be one
// complete, well-formed BER item (or nothing). The checker must end on it too,
// and a text it accepts must translate to something.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ldap/ber.h"
#include "ldap/filter.h"

namespace {
// True when data[begin, end) is a sequence of complete items, constructed ones
// holding complete items themselves.
bool WellFormed(std::string_view data, std::size_t begin, std::size_t end, int depth) {
  if (depth > 1000) return false;
  std::size_t cursor = begin;
  while (cursor < end) {
    if (end - cursor < 2) return false;
    const int tag = static_cast<uint8_t>(data[cursor++]);
    const int32_t length = DecodeLength(data.substr(0, end), cursor);
    if (length < 0 || static_cast<std::size_t>(length) > end - cursor) return false;
    if ((tag & 0x20) && !WellFormed(data, cursor, cursor + length, depth + 1)) return false;
    cursor += static_cast<std::size_t>(length);
  }
  return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string encoded = EncodeFilter(text);
  std::vector<std::string> names;
  const auto problem = quorvel::CheckFilter(text, &names);
  if (!problem && encoded.empty()) __builtin_trap();
  if (problem && (problem->position < 1 || problem->position > size + 1)) __builtin_trap();
  if (encoded.empty()) return 0;
  std::size_t cursor = 1;
  const int32_t length = DecodeLength(encoded, cursor);
  if (length < 0 || cursor + static_cast<std::size_t>(length) != encoded.size()) __builtin_trap();
  if (!WellFormed(encoded, 0, encoded.size(), 0)) __builtin_trap();
  return 0;
}
