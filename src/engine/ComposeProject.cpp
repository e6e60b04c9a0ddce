#include "engine/ComposeProject.h"

QString ComposeProject::id() const
{
    return Docker::runtimeId(runtime) + u'/' + name;
}

int ComposeProject::runningCount() const
{
    return int(std::count_if(containers.cbegin(), containers.cend(),
                             [](const Container& c) { return c.state == u"running"; }));
}

QString ComposeProject::statusText() const
{
    if (containers.isEmpty())
        return QStringLiteral("Not running");
    const qint64 running = runningCount();
    const qint64 total = std::max<qint64>(serviceCount, containers.size());
    if (running == 0)
        return total == 1 ? QStringLiteral("Stopped") : QStringLiteral("All %1 stopped").arg(total);
    if (running == total)
        return total == 1 ? QStringLiteral("Running") : QStringLiteral("All %1 running").arg(running);
    return QStringLiteral("%1 of %2 running").arg(running).arg(total);
}

QList<Container> ComposeProject::troubled() const
{
    QList<Container> out;
    for (const Container& c : containers)
        if (c.isTroubled())
            out << c;
    return out;
}
