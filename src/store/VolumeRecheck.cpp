#include "store/VolumeRecheck.h"

#include "platform/TimedRunner.h"

#include <QMap>

namespace {

QStringList removableNames(const TeardownPlan& plan)
{
    QStringList names;
    for (const VolumeUse& volume : plan.removable())
        names << volume.name;
    return names;
}

QString madeAgain(const QString& name)
{
    return QStringLiteral("%1 was made again since the plan was made; it was not removed.").arg(name);
}

} // namespace

VolumesNow volumesNow(StoreEngine& engine, const TeardownPlan& plan, const std::optional<Runtime>& on,
                      const Platform::Cancellation* cancel)
{
    const QStringList names = removableNames(plan);
    VolumesNow now;
    if (names.isEmpty())
        return now;
    const std::optional<QMap<QString, QString>> happened =
        plan.engineTime ? engine.volumeEvents(names, *plan.engineTime, on) : std::nullopt;
    if (happened) {
        for (const QString& name : names) {
            const QString last = happened->value(name);
            if (last == u"create")
                now.kept << madeAgain(name);
            else if (last.isEmpty())
                now.removed << name;
            // removed since by someone else's hand: nothing to remove
        }
        return now;
    }

    // The record of that time is gone: the folders tell, where the engine keeps its volumes here.
    const Docker::VolumeData folders =
        plan.volumeData.local ? engine.volumeData(names, on, cancel) : Docker::VolumeData();
    QStringList untold;
    QMap<QString, QString> why;
    for (const QString& name : names) {
        switch (Docker::sameVolume(plan.volumeData, folders, name)) {
        case Docker::Sameness::same:
            now.removed << name;
            break;
        case Docker::Sameness::madeAgain:
            why.insert(name, madeAgain(name));
            break;
        case Docker::Sameness::unknown:
            untold << name;
            break;
        }
    }
    // Nothing else tells: a creation time that moved says why it stays, but one that did not move is no
    // sign of the same volume, as the engine prints whole seconds, of when the data last changed.
    const std::optional<QMap<QString, QString>> made =
        untold.isEmpty() ? std::nullopt : engine.volumeCreation(untold, on);
    for (const QString& name : std::as_const(untold)) {
        const QString planned = plan.volumesMade.value(name);
        const QString printed = made ? made->value(name) : QString();
        if (!planned.isEmpty() && !printed.isEmpty() && printed != planned)
            why.insert(name,
                       QStringLiteral("%1 was not removed: its creation time changed since the plan was "
                                      "made, and neither the engine's events nor its data folder here "
                                      "could tell whether it was made again.")
                           .arg(name));
        else
            why.insert(name, QStringLiteral("%1 was not removed: neither the engine's events since the plan "
                                            "nor its data folder here could tell whether it is still the "
                                            "volume the plan showed.")
                                 .arg(name));
    }
    for (const QString& name : names)
        if (why.contains(name))
            now.kept << why.value(name);
    return now;
}
