#include "diagnostics/Output.h"

#include <QTextStream>

#include <algorithm>

namespace Diagnostics {

namespace {

QString visibleControls(const QString& text)
{
    const auto hidden = [](QChar c) {
        const char16_t u = c.unicode();
        return (u < 0x20 && u != u'\n' && u != u'\t') || (u >= 0x7F && u <= 0x9F);
    };
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

} // namespace

void printLine(QTextStream& out, const QString& line)
{
    out << visibleControls(line) << '\n';
    out.flush();
}

} // namespace Diagnostics
