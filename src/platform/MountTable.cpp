#include "platform/MountTable.h"

#include <QFile>

namespace Platform {

namespace {

// "\040" and its kin, as the mount table writes a blank, a tab, a line break or a backslash.
QByteArray unescapedMountField(const QByteArray& field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int value = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok && value >= 0 && value < 256) {
                out += char(value);
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

} // namespace

QList<MountEntry> parseMountTable(const QByteArray& text)
{
    QList<MountEntry> entries;
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() > 4)
            entries.append({fields[2], QFile::decodeName(unescapedMountField(fields[3])),
                            QFile::decodeName(unescapedMountField(fields[4]))});
    }
    return entries;
}

std::optional<QStringList> superOptionsAt(const QByteArray& text, const QString& point)
{
    std::optional<QStringList> found;
    for (const QByteArray& line : text.split('\n')) {
        // The optional fields before " - " vary in number; the type, source and options follow it.
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype dash = fields.indexOf("-");
        if (fields.size() < 5 || dash < 6 || dash + 3 >= fields.size() ||
            QFile::decodeName(unescapedMountField(fields[4])) != point)
            continue;
        found = QString::fromUtf8(unescapedMountField(fields[dash + 3])).split(u',', Qt::SkipEmptyParts);
    }
    return found;
}

QList<MountEntry> mountTable()
{
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (!table.open(QIODevice::ReadOnly))
        return {};
    return parseMountTable(table.readAll());
}

std::optional<TreeLocation> locate(const QString& canonical, const QList<MountEntry>& table)
{
    qsizetype on = -1;
    for (qsizetype i = 0; i < table.size(); ++i)
        if (atOrUnder(canonical, table[i].point) &&
            (on < 0 || table[i].point.size() >= table[on].point.size()))
            on = i;
    if (on < 0)
        return std::nullopt;
    const MountEntry& mount = table[on];
    const QString below = canonical.mid(mount.point == u'/' ? 0 : mount.point.size());
    const QString inFileSystem =
        mount.root == u'/' ? (below.isEmpty() ? QStringLiteral("/") : below) : mount.root + below;
    return TreeLocation{on, mount.device, inFileSystem};
}

bool atOrUnder(const QString& path, const QString& folder)
{
    return path == folder || path.startsWith(folder == u'/' ? folder : folder + u'/');
}

} // namespace Platform
