#include "sheets/ReclaimSelection.h"

#include "engine/Reclaim.h"
#include "platform/ByteCount.h"
#include "platform/Numbers.h"

#include <QStringList>

namespace ReclaimSelection {

QList<Reclaimable> candidates(const std::optional<DiskUsage>& usage,
                              const std::optional<ComposeProject>& project)
{
    if (!usage)
        return {};
    if (!project)
        return usage->candidates;
    // With every runtime shown, another engine may hold a project of the same name: its items are not
    // this project's to free.
    QList<Reclaimable> own = usage->candidatesIn(project->name);
    if (project->runtime)
        own.removeIf([&](const Reclaimable& item) { return item.runtime != project->runtime; });
    return own;
}

QList<Reclaimable> chosen(const QList<Reclaimable>& candidates, const QSet<QString>& selected)
{
    QList<Reclaimable> out;
    for (const Reclaimable& item : candidates)
        if (selected.contains(item.id()))
            out << item;
    return out;
}

QList<Reclaimable> gone(const QList<Reclaimable>& items)
{
    QList<Reclaimable> out;
    for (const Reclaimable& item : items)
        if (item.recovery == Reclaimable::Recovery::Gone)
            out << item;
    return out;
}

QString removeTitle(const QList<Reclaimable>& chosen)
{
    if (chosen.isEmpty())
        return QStringLiteral("Nothing selected");
    qint64 bytes = 0;
    for (const Reclaimable& item : chosen)
        bytes = Platform::saturatingAdd(bytes, item.bytes);
    return QStringLiteral("Remove %1").arg(chosen.size()) + Docker::partSeparator.toString() +
           Platform::fileSize(bytes);
}

QString goneMessage(const QList<Reclaimable>& gone)
{
    QStringList names;
    for (const Reclaimable& item : gone)
        names << item.name;
    return names.join(QStringLiteral(", ")) +
           QStringLiteral(". Nothing recreates these: a volume's data, a container outside a project or "
                          "without its compose file, and an untagged image are gone once removed.");
}

QSet<QString> toggled(QSet<QString> selected, const QString& id)
{
    if (!selected.remove(id))
        selected.insert(id);
    return selected;
}

bool allTicked(const QList<Reclaimable>& group, const QSet<QString>& selected)
{
    for (const Reclaimable& item : group)
        if (!selected.contains(item.id()))
            return false;
    return true;
}

QSet<QString> groupToggled(QSet<QString> selected, const QList<Reclaimable>& group)
{
    const bool clear = allTicked(group, selected);
    for (const Reclaimable& item : group) {
        if (clear)
            selected.remove(item.id());
        else
            selected.insert(item.id());
    }
    return selected;
}

} // namespace ReclaimSelection
