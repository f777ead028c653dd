#include "export/cellnumber.h"

#include <charconv>
#include <system_error>

namespace quorvel {

bool CellNumber(std::string_view text, double& value) {
  std::size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) ++i;
  const std::size_t intStart = i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  const std::size_t intDigits = i - intStart;
  if (intDigits == 0) return false;
  if (intDigits > 1 && text[intStart] == '0') return false;  // leading zero
  std::size_t fracDigits = 0;
  if (i < text.size() && text[i] == '.') {
    ++i;
    const std::size_t fracStart = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    fracDigits = i - fracStart;
    if (fracDigits == 0 || text[i - 1] == '0') return false;  // "1." or a trailing zero
  }
  if (i != text.size()) return false;

  // Significant digits: all of them, less the zeros that only place the point
  // ("0.0012" has two).
  std::size_t significant = intDigits + fracDigits;
  if (text[intStart] == '0') {
    --significant;
    std::size_t k = intStart + 2;
    while (k < text.size() && text[k] == '0') {
      --significant;
      ++k;
    }
    if (significant == 0 && negative) return false;  // "-0" reads back as "0"
    if (significant == 0 && fracDigits > 0) return false;
  }
  if (significant > 15) return false;
  // Converted without the C locale, whose decimal separator may be a comma.
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace quorvel
