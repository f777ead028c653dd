// When a spreadsheet cell gets a number instead of the text: the one rule both
// spreadsheet writers (the old single-sheet format and the workbook) follow.
//
// A text becomes a number only when the number written reads back as exactly
// the same text, so that no directory value is ever changed by being stored:
//   - a plain decimal: an optional "-", digits, optionally "." and digits;
//   - no leading zero ("007", "00.5", ".5" stay text; "0" and "0.25" are
//     numbers), no trailing zero after the point ("1.50", "2.0" stay text);
//   - at most 15 significant digits (what a double holds exactly);
//   - no sign "+", no blank, no exponent ("1e5"), no hexadecimal ("$1F",
//     "0x1F", "xface"), no "-0";
// everything else is text. Typical use:
//   double v;
//   if (CellNumber(text, v)) WriteNumber(v); else WriteLabel(text);
#pragma once

#include <string_view>

namespace quorvel {

// True when `text` is stored as the number `value` (see above).
bool CellNumber(std::string_view text, double& value);

}  // namespace quorvel
