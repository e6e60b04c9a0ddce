#include "store/KernelUsers.h"

#include <QRegularExpression>
#include <QSet>

#include <algorithm>

namespace {

// The whole container identifiers the control groups of the processes in `space` name
// ("docker-<id>.scope", "/docker/<id>", "libpod-<id>.scope"); none for a process of no container.
QStringList containerIds(const Platform::MountNamespace& space)
{
    static const QRegularExpression whole(QStringLiteral("[0-9a-f]{64}"));
    QStringList ids;
    for (const QString& cgroup : space.cgroups)
        for (auto found = whole.globalMatch(cgroup); found.hasNext();)
            ids << found.next().captured();
    return ids;
}

// Whether `id` (whole or shortened, as the listing gives it) is one of `whole`.
bool named(const QString& id, const QStringList& whole)
{
    return id.size() >= 12 && std::any_of(whole.cbegin(), whole.cend(),
                                          [&id](const QString& each) { return each.startsWith(id); });
}

QString userOf(const Platform::MountNamespace& space, const Container* container, const QString& point)
{
    if (!container)
        return QStringLiteral("a mount of another process: %1 (process %2, %3)")
            .arg(point, space.pid, space.command);
    const std::optional<QString> project = container->project();
    const QString name = project && !project->isEmpty()
                             ? QStringLiteral("%1 of %2").arg(container->name, *project)
                             : container->name;
    return QStringLiteral("%1, which has it mounted at %2").arg(name, point);
}

std::function<Platform::HostMounts(std::chrono::milliseconds)>& standIn()
{
    static std::function<Platform::HostMounts(std::chrono::milliseconds)> reader;
    return reader;
}

} // namespace

Platform::HostMounts kernelView(std::chrono::milliseconds limit)
{
    if (const auto& reader = standIn())
        return reader(limit);
    return Platform::hostMounts();
}

void setKernelView(std::function<Platform::HostMounts(std::chrono::milliseconds)> reader)
{
    standIn() = std::move(reader);
}

KernelVerdict kernelVerdict(const Platform::HostMounts& host, const QString& folder,
                            const QList<Container>& containers, const QStringList& own,
                            const QStringList& passing)
{
    KernelVerdict verdict;
    const std::optional<Platform::TreeLocation> at =
        host.readable ? Platform::locate(folder, host.own) : std::nullopt;
    if (!at) {
        verdict.notes << QStringLiteral(
            "The kernel's mount tables could not be read: only what the engines say their containers "
            "use was checked before offering the folder for the Trash.");
        return verdict;
    }
    QStringList users;
    QSet<qsizetype> counted;
    for (const Platform::NamespaceUse& use : Platform::namespaceUses(host, *at, passing)) {
        const Platform::MountNamespace& space = host.others[use.space];
        const QStringList ids = containerIds(space);
        if (counted.contains(use.space) ||
            std::any_of(own.cbegin(), own.cend(), [&ids](const QString& id) { return named(id, ids); }))
            continue;
        counted.insert(use.space);
        const auto container = std::find_if(containers.cbegin(), containers.cend(),
                                            [&ids](const Container& each) { return named(each.id, ids); });
        users << userOf(space, container == containers.cend() ? nullptr : &*container, use.mount.point);
    }
    constexpr qsizetype shown = 3;
    if (!users.isEmpty()) {
        QString text = QStringLiteral("used by ") + users.mid(0, shown).join(QStringLiteral("; "));
        if (users.size() > shown)
            text += QStringLiteral(" and %1 more").arg(users.size() - shown);
        verdict.refusal = text;
        return verdict;
    }
    if (!host.unread.isEmpty()) {
        verdict.refusal = QStringLiteral("the mounts of process %1 could not be read, and may show it")
                              .arg(host.unread.first());
        if (host.unread.size() > 1)
            verdict.refusal =
                *verdict.refusal + QStringLiteral(" (and of %1 more)").arg(host.unread.size() - 1);
        verdict.unsure = true;
    }
    return verdict;
}

QStringList heedKernel(Docker::TrashOffer& offer, const QList<Container>& containers, const QStringList& own,
                       const QStringList& passing)
{
    if (!offer.identity)
        return {};
    const KernelVerdict verdict =
        kernelVerdict(Platform::hostMounts(), offer.folder, containers, own, passing);
    if (verdict.refusal) {
        offer = Docker::TrashOffer{{}, verdict.refusal, {}};
        offer.unsure = verdict.unsure;
    }
    return verdict.notes;
}

KernelVolumeVerdict kernelVolumeVerdict(const Platform::HostMounts& host, const QString& dataFolder,
                                        const QList<Container>& containers, const QStringList& own,
                                        const QStringList& passing)
{
    // Not yet judged: every doubt keeps the volume.
    Q_UNUSED(host);
    Q_UNUSED(containers);
    Q_UNUSED(own);
    Q_UNUSED(passing);
    return {{}, {}, {QStringLiteral("the kernel was not asked who has %1 mounted").arg(dataFolder)}};
}
