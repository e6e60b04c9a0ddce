#pragma once

#include <QString>

class QTextStream;

// What every diagnostic mode writes with: plain UTF-8 lines on a text stream.
namespace Diagnostics {

// Between the parts of a label, and in place of a value nobody reported.
inline const QString separator = QStringLiteral(u" \u00B7 ");
inline const QString unknown = QStringLiteral(u"\u2014");

// Writes `line` as one line and a line feed, then flushes: the dumps wait on slow engines between
// lines, and a reader at a terminal or a pipe should see each line as soon as it is known. Every
// control character, line feed, carriage return and tab included, is written as "\xHH" (C1 ones as
// "\u00HH"), and so are the line and paragraph separators, the bidirectional controls and marks and
// the characters of no width ("\u2028", "\u202E", "\u200F", "\uFEFF", ...): names, labels and messages
// come from whoever made the containers, and must neither start a line of their own nor move the
// cursor, recolour, reorder or hide in what the reader's terminal shows.
void printLine(QTextStream& out, const QString& line);
// `text` as printLine writes it, for a message that goes out some other way (standard error).
QString visible(const QString& text);
// A text of the program's own with line feeds in it (a script), one printLine per line.
void printLines(QTextStream& out, const QString& text);

} // namespace Diagnostics
