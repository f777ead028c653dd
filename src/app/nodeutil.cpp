#include "app/nodeutil.h"

#include <charconv>

#include "store/messages.h"

namespace quorvel {

std::string Trim32(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return s.substr(b, e - b);
}

std::optional<int> PortFromText(const std::string& text) {
  const std::string t = Trim32(text);
  int value = 0;
  const char* first = t.data();
  const char* last = t.data() + t.size();
  if (!t.empty() && *first == '+') ++first;
  auto [ptr, ec] = std::from_chars(first, last, value);
  if (t.empty() || ec != std::errc() || ptr != last) {
    LogError("'" + text + "' is not a valid integer value");
    return std::nullopt;
  }
  return value;
}

}  // namespace quorvel
