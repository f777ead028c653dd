// Walks arbitrary bytes with the BER reader the way the client does: descend
// into constructed items, read primitive ones, decode OIDs and lengths.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ldap/ber.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::size_t cursor = 0;
  int tag = 0;
  while (cursor < bytes.size() && bytes.size() - cursor >= 2) {
    const std::size_t before = cursor;
    const std::string value = ReadItem(bytes, cursor, tag);
    // Texts of numbers and OIDs may be longer than their octets, never much.
    if (cursor > bytes.size() || value.size() > 4 * bytes.size() + 16) __builtin_trap();
    if (cursor == before) break;
  }
  std::size_t at = 0;
  DecodeLength(bytes, at);
  if (at > bytes.size()) __builtin_trap();
  OidToText(bytes);
  return 0;
}
