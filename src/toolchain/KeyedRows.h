#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

namespace Toolchain {

// Tool output of one key and its values per line, split at blanks only (runs of blanks count as one;
// tabs belong to the words). Empty lines and lines without a value are skipped.
inline QList<std::pair<QString, QStringList>> keyedRows(const QString& text)
{
    QList<std::pair<QString, QStringList>> rows;
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.size() < 2)
            continue;
        const QString key = words.takeFirst();
        rows.append({key, words});
    }
    return rows;
}

} // namespace Toolchain
