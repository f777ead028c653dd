#include "dialogs/plaintext.h"

namespace quorvel {

QString PlainToolTip(const QString& text) {
  if (text.isEmpty()) return text;
  // Marked as rich text on purpose, so that the escaped characters come out
  // as the characters themselves whatever the text holds.
  return "<p style='white-space:pre-wrap'>" + text.toHtmlEscaped() + "</p>";
}

}  // namespace quorvel
