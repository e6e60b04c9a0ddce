#include "store/AppStore.h"

#include "engine/Listings.h"
#include "platform/Settings.h"
#include "platform/TimedRunner.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace {

bool holds(const QString& text, const QString& query)
{
    return text.toLower().contains(query);
}

// The items `matches` accepts for the filter's query, in order; all of them when the query is empty.
template <typename T, typename Matches>
QList<T> narrowed(const QList<T>& items, const QString& filter, Matches matches)
{
    const QString q = AppStore::filterQuery(filter);
    if (q.isEmpty())
        return items;
    QList<T> result;
    for (const T& item : items)
        if (matches(item, q))
            result.append(item);
    return result;
}

} // namespace

// Lower case by the full Unicode mapping, which does not depend on the user's locale.
QString AppStore::filterQuery(const QString& filter)
{
    const auto blank = [](QChar c) { return c == u'\t' || c.category() == QChar::Separator_Space; };
    qsizetype start = 0;
    qsizetype end = filter.size();
    while (start < end && blank(filter[start]))
        ++start;
    while (end > start && blank(filter[end - 1]))
        --end;
    return filter.mid(start, end - start).toLower();
}

QString AppStore::allRuntimesTag()
{
    return QString(QChar(u'\0')) + QStringLiteral("all");
}

QDateTime AppStore::distantPast()
{
    return CPUSample::initial().at;
}

AppStore::AppStore(Platform::Settings& defaults, QObject* parent)
    : AppStore(defaults, StoreEngine::system(), StoreClock::system(), parent)
{
}

AppStore::AppStore(Platform::Settings& defaults, std::shared_ptr<StoreEngine> engine, StoreClock clock,
                   QObject* parent)
    : QObject(parent), m_defaults(defaults), m_engine(std::move(engine)), m_clock(std::move(clock)),
      m_usageAt(distantPast())
{
    if (!m_engine)
        m_engine = StoreEngine::system();
    const StoreClock system = StoreClock::system();
    if (!m_clock.now)
        m_clock.now = system.now;
    if (!m_clock.sleep)
        m_clock.sleep = system.sleep;

    m_registry = ProjectRegistry::load(m_defaults);
    m_showAll = m_defaults.boolean(QString::fromLatin1(showAllKey), false);
}

AppStore::~AppStore()
{
    // A deletion or reclaim still under way when the store goes ends its running command rather than
    // leaving it to run on unwatched.
    for (const std::shared_ptr<Platform::Cancellation>& deletion : std::as_const(m_deletions))
        deletion->cancel();
    for (const std::shared_ptr<Platform::Cancellation>& reclaim : std::as_const(m_reclaims))
        reclaim->cancel();
}

void AppStore::setRuntimes(const QList<RuntimeEntry>& runtimes)
{
    m_discovered = true;
    assign(m_runtimes, runtimes, &AppStore::runtimesChanged);
}

void AppStore::setRuntime(const std::optional<Runtime>& runtime)
{
    assign(m_runtime, runtime, &AppStore::runtimeChanged);
}

void AppStore::setShowAll(bool showAll)
{
    assign(m_showAll, showAll, &AppStore::showAllChanged);
}

void AppStore::setUnanswered(const QStringList& unanswered)
{
    assign(m_unanswered, unanswered, &AppStore::unansweredChanged);
}

void AppStore::setListed(bool listed)
{
    assign(m_listed, listed, &AppStore::listedChanged);
}

void AppStore::setContainers(const QList<Container>& containers)
{
    assign(m_containers, containers, &AppStore::containersChanged);
}

void AppStore::setImages(const QList<DockerImage>& images)
{
    assign(m_images, images, &AppStore::imagesChanged);
}

void AppStore::setVolumes(const QList<DockerVolume>& volumes)
{
    assign(m_volumes, volumes, &AppStore::volumesChanged);
}

void AppStore::setUsage(const std::optional<DiskUsage>& usage)
{
    assign(m_usage, usage, &AppStore::usageChanged);
}

void AppStore::setUsageAt(const QDateTime& usageAt)
{
    assign(m_usageAt, usageAt, &AppStore::usageAtChanged);
}

void AppStore::setStats(const std::optional<LiveStats>& stats)
{
    assign(m_stats, stats, &AppStore::statsChanged);
}

void AppStore::setCpuSamples(const QMap<QString, CPUSample>& samples)
{
    // Samples have no equality of their own, so every assignment counts as a change.
    m_cpuSamples = samples;
    emit cpuSamplesChanged();
}

void AppStore::setStatsAsked(qint64 asked)
{
    assign(m_statsAsked, asked, &AppStore::statsAskedChanged);
}

void AppStore::setAddresses(const QMap<QString, QString>& addresses)
{
    assign(m_addresses, addresses, &AppStore::addressesChanged);
}

void AppStore::setError(const std::optional<QString>& error)
{
    assign(m_error, error, &AppStore::errorChanged);
}

void AppStore::setNotice(const std::optional<QString>& notice)
{
    assign(m_notice, notice, &AppStore::noticeChanged);
}

AppStore::BusyHold AppStore::holdBusy()
{
    return BusyHold(this);
}

void AppStore::setFolderLooks(std::chrono::milliseconds limit, std::function<void()> first)
{
    m_folderLimit = limit;
    m_beforeFolderLook = std::move(first);
}

void AppStore::setPressWaits(bool waits)
{
    const bool was = busy();
    m_pressWaits = waits;
    if (busy() != was)
        emit busyChanged();
}

void AppStore::setWindowVisible(bool visible)
{
    assign(m_windowVisible, visible, &AppStore::windowVisibleChanged);
}

void AppStore::setFilter(const QString& filter)
{
    assign(m_filter, filter, &AppStore::filterChanged);
}

void AppStore::setRegistry(const ProjectRegistry& registry)
{
    assign(m_registry, registry, &AppStore::registryChanged);
}

void AppStore::setRefreshError(const std::optional<QString>& text)
{
    assign(m_refreshError, text, &AppStore::refreshErrorChanged);
}

bool AppStore::isStale(const Snapshot& before) const
{
    if (m_showAll != before.showAll)
        return true;
    return !before.showAll && m_runtime != before.runtime;
}

QList<std::optional<Runtime>> AppStore::scope() const
{
    if (!m_showAll)
        return {m_runtime};
    QList<std::optional<Runtime>> result;
    for (const RuntimeEntry& entry : m_runtimes)
        if (entry.reachable)
            result.append(entry.runtime);
    return result;
}

QList<std::optional<Runtime>> AppStore::answeringScope() const
{
    QList<std::optional<Runtime>> result = scope();
    result.removeIf([this](const std::optional<Runtime>& runtime) { return isSilent(runtime); });
    return result;
}

bool AppStore::isSilent(const std::optional<Runtime>& runtime) const
{
    return m_silent.contains(Docker::runtimeId(runtime));
}

QStringList AppStore::silent() const
{
    QStringList result;
    for (const std::optional<Runtime>& runtime : scope())
        if (isSilent(runtime))
            result << Docker::runtimeId(runtime);
    return result;
}

QList<Runtime> AppStore::addableRuntimes() const
{
    QList<Runtime> result;
    for (const RuntimeEntry& entry : m_runtimes)
        if (entry.reachable)
            result.append(entry.runtime);
    return result;
}

std::optional<Runtime> AppStore::defaultAddRuntime() const
{
    const QList<Runtime> addable = addableRuntimes();
    if (m_runtime && addable.contains(*m_runtime))
        return m_runtime;
    if (!addable.isEmpty())
        return addable.first();
    return m_runtime;
}

QList<Container> AppStore::matchingContainers() const
{
    const QString projectKey = QString::fromLatin1(Docker::projectLabel);
    return narrowed(m_containers, m_filter, [&projectKey](const Container& c, const QString& q) {
        return holds(c.name, q) || holds(c.image, q) || holds(c.labels.value(projectKey), q);
    });
}

QList<DockerImage> AppStore::matchingImages() const
{
    // The identifier is not searched: only what the list shows as the image's name.
    return narrowed(m_images, m_filter, [](const DockerImage& i, const QString& q) {
        return holds(i.repository + u':' + i.tag, q);
    });
}

QList<DockerVolume> AppStore::matchingVolumes() const
{
    return narrowed(m_volumes, m_filter,
                    [](const DockerVolume& v, const QString& q) { return holds(v.name, q); });
}

QList<ComposeProject> AppStore::projects() const
{
    // Asked for by every view on every listing and every poll; worked out once per change.
    if (m_projects)
        return *m_projects;
    QList<ComposeProject> result = projectsOf(matchingContainers());
    const QString q = filterQuery(m_filter);
    if (!q.isEmpty())
        result.removeIf(
            [&q](const ComposeProject& p) { return p.containers.isEmpty() && !holds(p.name, q); });
    m_projects = result;
    return result;
}

ComposeProject AppStore::wholeProject(const ComposeProject& shown) const
{
    if (filterQuery(m_filter).isEmpty())
        return shown;
    const QString id = shown.id();
    for (const ComposeProject& project : projectsOf(m_containers))
        if (project.id() == id)
            return project;
    return shown;
}

const QList<ComposeProject>& AppStore::groups() const
{
    if (!m_groups)
        m_groups = Docker::group(m_containers);
    return *m_groups;
}

QList<ComposeProject> AppStore::projectsOf(const QList<Container>& containers) const
{
    // Without a filter these are the store's own containers, already grouped.
    const QList<ComposeProject> groups =
        containers == m_containers ? this->groups() : Docker::group(containers);
    QList<ComposeProject> result;
    for (const std::optional<Runtime>& runtime : scope()) {
        QList<ComposeProject> discovered;
        if (m_showAll) {
            for (const ComposeProject& group : groups)
                if (group.runtime == runtime)
                    discovered.append(group);
        } else {
            discovered = groups;
        }
        const QList<KnownProject> known =
            runtime ? m_registry.byRuntime.value(runtime->id()) : QList<KnownProject>();
        for (ComposeProject& project : merged(discovered, known, Docker::runtimeId(runtime))) {
            project.runtime = runtime;
            result.append(std::move(project));
        }
    }
    const auto byName = [](const ComposeProject& a, const ComposeProject& b) {
        if (a.name != b.name)
            return a.name < b.name;
        return a.id() < b.id();
    };
    // One runtime's projects come sorted already; hundreds remembered need not be sorted again.
    if (!std::is_sorted(result.cbegin(), result.cend(), byName))
        std::stable_sort(result.begin(), result.end(), byName);
    return result;
}

QList<ComposeProject> AppStore::merged(const QList<ComposeProject>& discovered,
                                       const QList<KnownProject>& known, const QString& runtime) const
{
    // What ProjectRegistry::merge gives, in two parts: the projects listed with what is remembered of
    // them, and the remembered ones listed without containers, which change only with the registry and
    // the names listed. Hundreds may be remembered, and a poll that changes one container's status
    // changes none of them.
    QStringList listed;
    listed.reserve(discovered.size());
    for (const ComposeProject& project : discovered)
        listed << project.name;
    Resting& resting = m_resting[runtime];
    if (resting.known != known || resting.listed != listed) {
        const QSet<QString> names(listed.cbegin(), listed.cend());
        QList<KnownProject> down;
        resting.theirs.clear();
        for (const KnownProject& project : known)
            (names.contains(project.name) ? resting.theirs : down) << project;
        resting.known = known;
        resting.listed = listed;
        resting.projects = ProjectRegistry::merge({}, down);
    }
    const QList<ComposeProject> up = ProjectRegistry::merge(discovered, resting.theirs);
    QList<ComposeProject> result;
    result.reserve(up.size() + resting.projects.size());
    std::merge(up.cbegin(), up.cend(), resting.projects.cbegin(), resting.projects.cend(),
               std::back_inserter(result),
               [](const ComposeProject& a, const ComposeProject& b) { return a.name < b.name; });
    return result;
}

int AppStore::runningCount() const
{
    return int(std::count_if(m_containers.cbegin(), m_containers.cend(),
                             [](const Container& c) { return c.state == u"running"; }));
}

bool AppStore::isApple(const std::optional<Runtime>& runtime) const
{
    if (!runtime)
        return false;
    if (runtime->isSocket())
        return true;
    const auto entry = std::find_if(m_runtimes.cbegin(), m_runtimes.cend(),
                                    [&](const RuntimeEntry& e) { return e.runtime == *runtime; });
    return entry != m_runtimes.cend() && entry->endpoint.contains(u"socktainer");
}

std::optional<QString> AppStore::address(const Container& container) const
{
    if (container.state != u"running")
        return std::nullopt;
    if (!isApple(container.runtime ? container.runtime : m_runtime))
        return std::nullopt;
    const auto found = m_addresses.constFind(container.name);
    if (found == m_addresses.cend())
        return std::nullopt;
    return *found;
}

QString AppStore::selection() const
{
    if (m_showAll)
        return allRuntimesTag();
    return m_runtime ? m_runtime->id() : QString();
}
