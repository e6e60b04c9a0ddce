#pragma once

#include <QString>

#include <exception>

class QTextStream;

// What every diagnostic mode writes with: plain UTF-8 lines on a text stream.
namespace Diagnostics {

// Between the parts of a label, and in place of a value nobody reported.
inline const QString separator = QStringLiteral(u" \u00B7 ");
inline const QString unknown = QStringLiteral(u"\u2014");

// Writes `line` and a line feed, then flushes: the dumps wait on slow engines between lines, and a
// reader at a terminal or a pipe should see each line as soon as it is known.
void printLine(QTextStream& out, const QString& line);

// The text a failure is shown with: a command's trimmed error output for the engine's errors, the
// reason for a child that could not start, else the exception's own message.
QString describe(const std::exception& failure);

} // namespace Diagnostics
