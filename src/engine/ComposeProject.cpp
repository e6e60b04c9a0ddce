#include "engine/ComposeProject.h"

#include "engine/Compose.h"
#include "platform/PreparedProcess.h"

#include <QDir>
#include <QFile>

#include <algorithm>

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

bool ComposeProject::hasBuild() const
{
    // Read afresh every time: the file may change between refreshes, and it is small.
    if (!workingDir)
        return false;
    const std::optional<QString> file = Docker::composeFile(*workingDir);
    if (!file)
        return false;
    QFile compose(QDir(*workingDir).filePath(*file));
    if (!compose.open(QIODevice::ReadOnly))
        return false;
    const QString text = Platform::decodeUtf8Strict(compose.readAll());
    for (const QStringView line : QStringView(text).split(u'\n', Qt::SkipEmptyParts))
        if (Docker::trimBlanks(line).startsWith(QLatin1StringView("build:")))
            return true;
    return false;
}

size_t qHash(const ComposeProject& project, size_t seed) noexcept
{
    seed = qHashMulti(seed, project.name, project.workingDir.value_or(QString()),
                      project.workingDir.has_value(), project.serviceCount, project.runtime);
    for (const Container& container : project.containers)
        seed = qHash(container, seed);
    return seed;
}

QList<Container> ComposeProject::troubled() const
{
    QList<Container> out;
    for (const Container& c : containers)
        if (c.isTroubled())
            out << c;
    return out;
}
