// Reads arbitrary bytes as the remainder of a SearchResultDone (where the
// paged-results cookie comes back) and as an attribute description (where a
// value range is announced); neither may read outside the input.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ldap/pagingcodec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::string cookie;
  if (quorvel::DecodePagedResultsCookie(input, cookie) && cookie.size() > input.size())
    __builtin_trap();
  const auto range = quorvel::ParseValueRange(input);
  if (range) {
    if (range->Name.size() >= input.size()) __builtin_trap();
    if (!range->ToEnd && range->High < range->Low) __builtin_trap();
  }
  return 0;
}
