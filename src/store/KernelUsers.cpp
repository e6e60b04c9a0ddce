#include "store/KernelUsers.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <mutex>

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

// The container of `containers` whose processes are in `space`; none for another process.
const Container* containerOf(const Platform::MountNamespace& space, const QList<Container>& containers)
{
    const QStringList ids = containerIds(space);
    const auto found = std::find_if(containers.cbegin(), containers.cend(),
                                    [&ids](const Container& each) { return named(each.id, ids); });
    return found == containers.cend() ? nullptr : &*found;
}

bool ofOwn(const Platform::MountNamespace& space, const QStringList& own)
{
    const QStringList ids = containerIds(space);
    return std::any_of(own.cbegin(), own.cend(), [&ids](const QString& id) { return named(id, ids); });
}

// Runs `each` once for every namespace of `uses` but those of the project's own containers, with
// its container where `containers` has it: what shows the folder, or a folder inside it, before what
// holds it, so that a namespace with both is a user of the folder.
template <typename Each>
void eachUser(const Platform::HostMounts& host, const QList<Platform::NamespaceUse>& uses,
              const QList<Container>& containers, const QStringList& own, Each&& each)
{
    QSet<qsizetype> counted;
    for (const bool holds : {false, true})
        for (const Platform::NamespaceUse& use : uses) {
            const Platform::MountNamespace& space = host.others[use.space];
            if ((use.reach == Platform::MountReach::above) != holds || counted.contains(use.space) ||
                ofOwn(space, own))
                continue;
            counted.insert(use.space);
            each(space, containerOf(space, containers), use);
        }
}

// "web of shop", "web", or "process 77 (sleep)".
QString whoIs(const Platform::MountNamespace& space, const Container* container)
{
    if (!container)
        return space.command.isEmpty() ? QStringLiteral("process %1").arg(space.pid)
                                       : QStringLiteral("process %1 (%2)").arg(space.pid, space.command);
    const std::optional<QString> project = container->project();
    return project && !project->isEmpty() ? QStringLiteral("%1 of %2").arg(container->name, *project)
                                          : container->name;
}

QString userOf(const Platform::MountNamespace& space, const Container* container, const QString& point)
{
    if (!container)
        return QStringLiteral("a mount of another process: %1 (process %2, %3)")
            .arg(point, space.pid, space.command);
    return QStringLiteral("%1, which has it mounted at %2").arg(whoIs(space, container), point);
}

// Where this process sees the folder `inFileSystem` of the file system `device`: through the mount of
// its table that shows the nearest folder above it. As the file system names it where none does.
QString placeHere(const QByteArray& device, const QString& inFileSystem,
                  const QList<Platform::MountEntry>& own)
{
    const Platform::MountEntry* through = nullptr;
    for (const Platform::MountEntry& mount : own)
        if (mount.device == device && Platform::atOrUnder(inFileSystem, mount.root) &&
            (!through || mount.root.size() >= through->root.size()))
            through = &mount;
    if (!through)
        return QStringLiteral("%1 of the file system %2").arg(inFileSystem, QString::fromLatin1(device));
    const QString below = through->root == u'/' ? inFileSystem : inFileSystem.mid(through->root.size());
    if (below.isEmpty() || below == u'/')
        return through->point;
    return through->point == u'/' ? below : through->point + below;
}

// "a, b, c and 4 more": the first few of `names`.
QString firstFew(const QStringList& names)
{
    constexpr qsizetype shown = 3;
    QString text = names.mid(0, shown).join(QStringLiteral(", "));
    if (names.size() > shown)
        text += QStringLiteral(" and %1 more").arg(names.size() - shown);
    return text;
}

QString notSeenWhole(const QStringList& unread, const QString& what)
{
    return QStringLiteral("Nobody can say whether %1 %2 %3 %4 mounted: %5 mounts could not be read.")
        .arg(unread.size() == 1 ? QStringLiteral("process") : QStringLiteral("processes"), firstFew(unread),
             unread.size() == 1 ? QStringLiteral("has") : QStringLiteral("have"), what,
             unread.size() == 1 ? QStringLiteral("its") : QStringLiteral("their"));
}

// Where `path` (absolute, as an engine names it) is in this process's view, every link resolved as far
// as this process may look: the rest, in a folder closed to it, is taken as written. None for a path
// that is not plain or not there.
std::optional<QString> inThisView(const QString& path)
{
    if (!path.startsWith(u'/') || path.contains(QChar(0)))
        return std::nullopt;
    const QStringList parts = path.split(u'/', Qt::SkipEmptyParts);
    if (parts.contains(QStringLiteral(".")) || parts.contains(QStringLiteral("..")))
        return std::nullopt;
    for (qsizetype known = parts.size(); known >= 0; --known) {
        const QString head = u'/' + parts.mid(0, known).join(u'/');
        errno = 0;
        char* resolved = ::realpath(QFile::encodeName(head).constData(), nullptr);
        if (!resolved) {
            if (errno != EACCES)
                return std::nullopt;
            continue;
        }
        QString here = QFile::decodeName(resolved);
        std::free(resolved);
        for (qsizetype i = known; i < parts.size(); ++i)
            here += (here == u'/' ? QString() : QStringLiteral("/")) + parts[i];
        return here;
    }
    return std::nullopt;
}

struct StandIn {
    std::mutex lock;
    std::function<Platform::HostMounts(std::chrono::milliseconds)> reader;
};

StandIn& standIn()
{
    static StandIn shared;
    return shared;
}

} // namespace

Platform::HostMounts kernelView(std::chrono::milliseconds limit)
{
    std::function<Platform::HostMounts(std::chrono::milliseconds)> reader;
    {
        const std::lock_guard guard(standIn().lock);
        reader = standIn().reader;
    }
    if (reader)
        return reader(limit);
    return Platform::hostMounts(QStringLiteral("/proc"), limit);
}

void setKernelView(std::function<Platform::HostMounts(std::chrono::milliseconds)> reader)
{
    const std::lock_guard guard(standIn().lock);
    standIn().reader = std::move(reader);
}

KernelVerdict kernelVerdict(const Platform::HostMounts& host, const QString& folder,
                            const QList<Container>& containers, const QStringList& own,
                            const QStringList& passing, const QStringList& saidAbove)
{
    KernelVerdict verdict;
    const std::optional<Platform::TreeLocation> at =
        host.readable ? Platform::locate(folder, host.own) : std::nullopt;
    if (!at) {
        verdict.notes << QStringLiteral(
            "The kernel's mount tables could not be read: only what the engines say their containers "
            "use was checked before offering the folder for the Trash.");
        verdict.notes << host.partial;
        return verdict;
    }
    // A mount gone before the folder moves is gone from every namespace it was copied into too (a
    // container binding the root sees the volumes mounted below it): the same folder of the same file
    // system as a mount of this process's own at a passing point.
    QList<Platform::NamespaceUse> uses = Platform::namespaceUses(host, *at, passing);
    uses.removeIf([&](const Platform::NamespaceUse& use) {
        return std::any_of(host.own.cbegin(), host.own.cend(), [&](const Platform::MountEntry& mine) {
            return passing.contains(mine.point) && mine.device == use.mount.device &&
                   mine.root == use.mount.root;
        });
    });
    QStringList users;
    QStringList above;
    eachUser(
        host, uses, containers, own,
        [&](const Platform::MountNamespace& space, const Container* container,
            const Platform::NamespaceUse& use) {
            if (use.reach != Platform::MountReach::above)
                users << userOf(space, container, use.mount.point);
            else if (!container || !saidAbove.contains(container->id))
                above << QStringLiteral("%1 has %2 mounted at %3, which holds this folder: what goes to the "
                                        "Trash is gone from there too.")
                             .arg(whoIs(space, container),
                                  placeHere(use.mount.device, use.mount.root, host.own), use.mount.point);
        });
    if (!users.isEmpty()) {
        constexpr qsizetype shown = 3;
        QString text = QStringLiteral("used by ") + users.mid(0, shown).join(QStringLiteral("; "));
        if (users.size() > shown)
            text += QStringLiteral(" and %1 more").arg(users.size() - shown);
        verdict.refusal = text;
        return verdict;
    }
    constexpr qsizetype said = 3;
    verdict.notes << above.mid(0, said);
    if (above.size() > said)
        verdict.notes << QStringLiteral("%1 more processes have a folder that holds this one mounted.")
                             .arg(above.size() - said);
    if (!host.unread.isEmpty())
        verdict.notes << notSeenWhole(host.unread, QStringLiteral("this folder"));
    verdict.notes << host.partial;
    return verdict;
}

QStringList heedKernel(Docker::TrashOffer& offer, const QList<Container>& containers, const QStringList& own,
                       std::chrono::milliseconds limit, const QStringList& passing)
{
    if (!offer.identity)
        return {};
    const KernelVerdict verdict =
        kernelVerdict(kernelView(limit), offer.folder, containers, own, passing, offer.heldFromAbove);
    if (verdict.refusal) {
        offer = Docker::TrashOffer{{}, verdict.refusal, {}};
        return {};
    }
    QStringList said;
    for (const QString& note : verdict.notes)
        if (!offer.notes.contains(note) && !said.contains(note))
            said << note;
    offer.notes << said;
    return said;
}

KernelVolumeVerdict kernelVolumeVerdict(const Platform::HostMounts& host, const QString& dataFolder,
                                        const QList<Container>& containers, const QStringList& own,
                                        const QStringList& passing)
{
    KernelVolumeVerdict verdict;
    const auto doubted = [&](const QString& why) {
        verdict.doubts << why;
        if (!host.unread.isEmpty())
            verdict.doubts << notSeenWhole(host.unread, dataFolder);
        verdict.doubts << host.partial;
        return verdict;
    };
    if (!host.readable)
        return doubted(QStringLiteral("The kernel's mount tables could not be read."));
    const std::optional<QString> here = inThisView(dataFolder);
    const std::optional<Platform::TreeLocation> at = here ? Platform::locate(*here, host.own) : std::nullopt;
    if (!at)
        return doubted(
            QStringLiteral("%1 is not to be found on this machine: nobody can say who has it mounted.")
                .arg(dataFolder));

    // This machine's own table: a mount of the folder or inside it, or placed at or under it (whatever
    // a removal reaches through there goes with the volume). The mounts its path runs through are how
    // the folder is reached, not a use of it.
    for (const Platform::MountEntry& mount : host.own) {
        if (passing.contains(mount.point))
            continue;
        const Platform::MountReach reach = Platform::reachOfMount(mount, at->device, at->inFileSystem);
        if (reach == Platform::MountReach::at || reach == Platform::MountReach::under ||
            Platform::atOrUnder(mount.point, *here)) {
            verdict.users << QStringLiteral("this machine, at %1").arg(mount.point);
            break;
        }
    }
    if (verdict.users.isEmpty())
        for (const Platform::MountEntry& mount : host.own)
            if (Platform::reachOfMount(mount, at->device, at->inFileSystem) == Platform::MountReach::above &&
                !Platform::atOrUnder(*here, mount.point)) {
                verdict.above << QStringLiteral("this machine has %1 mounted at %2")
                                     .arg(placeHere(mount.device, mount.root, host.own), mount.point);
                break;
            }

    eachUser(host, Platform::namespaceUses(host, *at, passing), containers, own,
             [&](const Platform::MountNamespace& space, const Container* container,
                 const Platform::NamespaceUse& use) {
                 if (use.reach != Platform::MountReach::above)
                     verdict.users << userOf(space, container, use.mount.point);
                 else
                     verdict.above << QStringLiteral("%1 has %2 mounted at %3")
                                          .arg(whoIs(space, container),
                                               placeHere(use.mount.device, use.mount.root, host.own),
                                               use.mount.point);
             });
    if (!host.unread.isEmpty())
        verdict.doubts << notSeenWhole(host.unread, dataFolder);
    verdict.doubts << host.partial;
    return verdict;
}
