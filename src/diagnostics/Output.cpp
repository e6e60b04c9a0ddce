#include "diagnostics/Output.h"

#include <QStringList>
#include <QTextStream>

#include <algorithm>

namespace Diagnostics {

namespace {

// Characters that would move the reader's cursor, start a line of their own, turn the text around or
// hide in it: the C0 and C1 controls, the Unicode line and paragraph separators, the bidirectional
// controls and marks, and the characters of no width (a name "\uFEFFweb" must not read as "web").
bool hidden(QChar c)
{
    const char16_t u = c.unicode();
    return u < 0x20 || (u >= 0x7F && u <= 0x9F) || u == 0x061C || (u >= 0x200B && u <= 0x200F) ||
           u == 0x2028 || u == 0x2029 || (u >= 0x202A && u <= 0x202E) || (u >= 0x2060 && u <= 0x2064) ||
           (u >= 0x2066 && u <= 0x206F) || u == 0xFEFF;
}

} // namespace

QString visible(const QString& text)
{
    if (std::none_of(text.cbegin(), text.cend(), hidden))
        return text;
    QString shown;
    shown.reserve(text.size() + 8);
    for (const QChar c : text) {
        if (!hidden(c)) {
            shown += c;
            continue;
        }
        const bool c0 = c.unicode() < 0x80;
        shown += (c0 ? QStringLiteral("\\x") : QStringLiteral("\\u")) +
                 QString::number(c.unicode(), 16).toUpper().rightJustified(c0 ? 2 : 4, u'0');
    }
    return shown;
}

void printLine(QTextStream& out, const QString& line)
{
    out << visible(line) << '\n';
    out.flush();
}

void printLines(QTextStream& out, const QString& text)
{
    for (const QString& line : text.split(u'\n'))
        printLine(out, line);
}

} // namespace Diagnostics
