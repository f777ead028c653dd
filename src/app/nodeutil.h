// Small text helpers of the main window's commands.
#pragma once

#include <optional>
#include <string>

namespace quorvel {

// Removes leading and trailing characters of code 32 or less.
std::string Trim32(const std::string& s);
// The port typed in a dialog as a decimal integer; nullopt (after telling the
// user "'text' is not a valid integer value") when it is not one.
std::optional<int> PortFromText(const std::string& text);

}  // namespace quorvel
