// Text from outside the program (a server, a certificate, a directory entry,
// a file) is data, shown exactly as it is: never as mark-up that could draw a
// forged line, hide the real one in a comment or load an image.
//
// Qt guesses: a QLabel, a QMessageBox and every tool tip render a text that
// merely looks like HTML ("<b>", "<!--", "&lt;" in its first line) as rich
// text. So:
//   - labels and message boxes that may carry such text are set to
//     Qt::PlainText (label->setTextFormat(Qt::PlainText));
//   - tool tips, which have no format setting, get PlainToolTip(text);
//   - item views (the grid, the trees) draw their display text plainly
//     already, and window titles are never rich.
//
//   cell tool tip:   return quorvel::PlainToolTip(value);
#pragma once

#include <QString>

namespace quorvel {

// A tool tip that shows text literally, line breaks and all: the text
// escaped inside a rich-text paragraph that keeps its white space. An empty
// text stays empty (no tool tip).
QString PlainToolTip(const QString& text);

}  // namespace quorvel
