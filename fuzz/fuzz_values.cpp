// Classifies and converts arbitrary bytes as a directory value: the first
// byte chooses the readable form, the rest is the value. Whatever comes out
// must be text, and a converted time must read back as one.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ldap/valueforms.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const auto form = static_cast<quorvel::TValueForm>(data[0] % 5);
  const std::string_view value(reinterpret_cast<const char*>(data + 1), size - 1);
  (void)quorvel::IsTextValue(value);
  std::string out;
  if (!quorvel::ReadableText(form, value, out)) return 0;
  if (!quorvel::IsTextValue(out)) __builtin_trap();
  quorvel::TCivilTime t;
  switch (form) {
    case quorvel::vfSid:
      if (out.rfind("S-1-", 0) != 0) __builtin_trap();
      break;
    case quorvel::vfGuid:
      if (out.size() != 36) __builtin_trap();
      break;
    case quorvel::vfFileTime:
    case quorvel::vfGeneralizedTime:
      if (!quorvel::ParseReadableTime(out, t)) __builtin_trap();
      break;
    case quorvel::vfPlain:
      __builtin_trap();  // plain values are never converted
  }
  return 0;
}
