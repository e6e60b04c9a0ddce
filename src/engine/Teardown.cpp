#include "engine/Teardown.h"

#include "engine/ComposeProject.h"
#include "engine/Container.h"
#include "engine/Docker.h"

#include <QFileInfo>
#include <QSet>

#include <algorithm>

size_t qHash(const VolumeUse& use, size_t seed) noexcept
{
    return qHashMulti(seed, use.name, use.usedBy, use.size.has_value(), use.size.value_or(QString()));
}

QList<VolumeUse> TeardownPlan::removable() const
{
    QList<VolumeUse> out;
    for (const VolumeUse& volume : volumes)
        if (volume.usedBy.isEmpty())
            out << volume;
    return out;
}

QList<VolumeUse> TeardownPlan::kept() const
{
    QList<VolumeUse> out;
    for (const VolumeUse& volume : volumes)
        if (!volume.usedBy.isEmpty())
            out << volume;
    return out;
}

namespace Docker {

MountMap volumeMounts(const QStringList& ids, const std::optional<Runtime>& runtime)
{
    if (ids.isEmpty())
        return {};
    QStringList args{QStringLiteral("inspect")};
    args << ids << QStringLiteral("--format")
         << QStringLiteral(R"({{.Name}}|{{range .Mounts}}{{if eq .Type "volume"}}{{.Name}},{{end}}{{end}})");
    // Ids that vanished since they were listed make the client fail, but the others are still printed.
    return parseMounts(capture(args, runtime).out);
}

MountMap parseMounts(const QString& text)
{
    MountMap mounts;
    for (const QStringView line : QStringView(text).split(u'\n', Qt::SkipEmptyParts)) {
        const qsizetype bar = line.indexOf(u'|');
        QStringView name = bar < 0 ? line : line.left(bar);
        while (!name.isEmpty() && (name.front() == u'/' || name.front() == u' '))
            name = name.mid(1);
        while (!name.isEmpty() && (name.back() == u'/' || name.back() == u' '))
            name.chop(1);
        if (name.isEmpty())
            continue;
        QStringList volumes;
        if (bar >= 0)
            for (const QStringView volume : line.mid(bar + 1).split(u',', Qt::SkipEmptyParts))
                volumes << volume.toString();
        mounts.insert(name.toString(), volumes);
    }
    return mounts;
}

TeardownPlan plan(const ComposeProject& project, const QList<Container>& allContainers,
                  const MountMap& mounts, const QStringList& declaredVolumes,
                  const QMap<QString, QString>& sizes, const QStringList& externalVolumes)
{
    QStringList names;
    for (const Container& container : project.containers)
        names << container.name;
    const QSet<QString> inProject(names.cbegin(), names.cend());
    // Someone else's volume that the project merely borrows: deleting the project must never take it.
    const QSet<QString> external(externalVolumes.cbegin(), externalVolumes.cend());

    QStringList volumeNames;
    const auto take = [&](const QString& volume) {
        if (!external.contains(volume) && !volumeNames.contains(volume))
            volumeNames << volume;
    };
    for (const QString& name : std::as_const(names))
        for (const QString& volume : mounts.value(name))
            take(volume);
    for (const QString& volume : declaredVolumes)
        take(volume);
    std::sort(volumeNames.begin(), volumeNames.end());

    TeardownPlan plan{project.name, names, {}, std::nullopt};
    for (const QString& volume : std::as_const(volumeNames)) {
        QStringList usedBy;
        for (const Container& container : allContainers)
            if (!inProject.contains(container.name) && mounts.value(container.name).contains(volume))
                usedBy << container.name;
        std::sort(usedBy.begin(), usedBy.end());
        std::optional<QString> size;
        if (const auto it = sizes.constFind(volume); it != sizes.cend())
            size = it.value();
        plan.volumes << VolumeUse{volume, usedBy, size};
    }
    // A folder only: a label naming a file must not offer that file for the Trash.
    if (project.workingDir && QFileInfo(*project.workingDir).isDir())
        plan.workingDir = project.workingDir;
    return plan;
}

QStringList borrowedVolumes(const ComposeProject& project, const MountMap& mounts,
                            const QList<DockerVolume>& listed)
{
    const QString projectKey = QString::fromLatin1(projectLabel);
    QSet<QString> own;
    for (const DockerVolume& volume : listed)
        if (volume.labels.value(projectKey) == project.name)
            own.insert(volume.name);
    QStringList borrowed;
    for (const Container& container : project.containers)
        for (const QString& volume : mounts.value(container.name))
            if (!own.contains(volume) && !borrowed.contains(volume))
                borrowed << volume;
    return borrowed;
}

} // namespace Docker
