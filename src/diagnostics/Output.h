#pragma once

#include <QString>

class QTextStream;

// What every diagnostic mode writes with: plain UTF-8 lines on a text stream.
namespace Diagnostics {

// Between the parts of a label, and in place of a value nobody reported.
inline const QString separator = QStringLiteral(u" \u00B7 ");
inline const QString unknown = QStringLiteral(u"\u2014");

// Writes `line` and a line feed, then flushes: the dumps wait on slow engines between lines, and a
// reader at a terminal or a pipe should see each line as soon as it is known. Control characters
// other than line feed and tab are written as "\xHH" (C1 ones as "\u00HH"): names and labels come
// from whoever made the containers, and must not move the cursor or recolour the reader's terminal.
void printLine(QTextStream& out, const QString& line);

} // namespace Diagnostics
