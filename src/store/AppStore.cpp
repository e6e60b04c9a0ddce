#include "store/AppStore.h"

#include "engine/Listings.h"
#include "platform/Settings.h"

#include <algorithm>

namespace {

// The filter as it is matched: without surrounding blanks and tabs (line breaks stay) and in lower
// case by the full Unicode mapping, which does not depend on the user's locale.
QString query(const QString& filter)
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

bool holds(const QString& text, const QString& query)
{
    return text.toLower().contains(query);
}

} // namespace

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

AppStore::~AppStore() = default;

void AppStore::setRuntimes(const QList<RuntimeEntry>& runtimes)
{
    if (m_runtimes == runtimes)
        return;
    m_runtimes = runtimes;
    emit runtimesChanged();
}

void AppStore::setRuntime(const std::optional<Runtime>& runtime)
{
    if (m_runtime == runtime)
        return;
    m_runtime = runtime;
    emit runtimeChanged();
}

void AppStore::setShowAll(bool showAll)
{
    if (m_showAll == showAll)
        return;
    m_showAll = showAll;
    emit showAllChanged();
}

void AppStore::setUnanswered(const QStringList& unanswered)
{
    if (m_unanswered == unanswered)
        return;
    m_unanswered = unanswered;
    emit unansweredChanged();
}

void AppStore::setContainers(const QList<Container>& containers)
{
    if (m_containers == containers)
        return;
    m_containers = containers;
    emit containersChanged();
}

void AppStore::setImages(const QList<DockerImage>& images)
{
    if (m_images == images)
        return;
    m_images = images;
    emit imagesChanged();
}

void AppStore::setVolumes(const QList<DockerVolume>& volumes)
{
    if (m_volumes == volumes)
        return;
    m_volumes = volumes;
    emit volumesChanged();
}

void AppStore::setUsage(const std::optional<DiskUsage>& usage)
{
    if (m_usage == usage)
        return;
    m_usage = usage;
    emit usageChanged();
}

void AppStore::setUsageAt(const QDateTime& usageAt)
{
    if (m_usageAt == usageAt)
        return;
    m_usageAt = usageAt;
    emit usageAtChanged();
}

void AppStore::setStats(const std::optional<LiveStats>& stats)
{
    if (m_stats == stats)
        return;
    m_stats = stats;
    emit statsChanged();
}

void AppStore::setCpuSamples(const QMap<QString, CPUSample>& samples)
{
    // Samples have no equality of their own, so every assignment counts as a change.
    m_cpuSamples = samples;
    emit cpuSamplesChanged();
}

void AppStore::setStatsAsked(qint64 asked)
{
    if (m_statsAsked == asked)
        return;
    m_statsAsked = asked;
    emit statsAskedChanged();
}

void AppStore::setAddresses(const QMap<QString, QString>& addresses)
{
    if (m_addresses == addresses)
        return;
    m_addresses = addresses;
    emit addressesChanged();
}

void AppStore::setError(const std::optional<QString>& error)
{
    if (m_error == error)
        return;
    m_error = error;
    emit errorChanged();
}

void AppStore::setNotice(const std::optional<QString>& notice)
{
    if (m_notice == notice)
        return;
    m_notice = notice;
    emit noticeChanged();
}

void AppStore::setBusy(bool busy)
{
    if (m_busy == busy)
        return;
    m_busy = busy;
    emit busyChanged();
}

void AppStore::setWindowVisible(bool visible)
{
    if (m_windowVisible == visible)
        return;
    m_windowVisible = visible;
    emit windowVisibleChanged();
}

void AppStore::setFilter(const QString& filter)
{
    if (m_filter == filter)
        return;
    m_filter = filter;
    emit filterChanged();
}

void AppStore::setRegistry(const ProjectRegistry& registry)
{
    if (m_registry == registry)
        return;
    m_registry = registry;
    emit registryChanged();
}

void AppStore::setRefreshError(const std::optional<QString>& text)
{
    if (m_refreshError == text)
        return;
    m_refreshError = text;
    emit refreshErrorChanged();
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
    const QString q = query(m_filter);
    if (q.isEmpty())
        return m_containers;
    const QString projectKey = QString::fromLatin1(Docker::projectLabel);
    QList<Container> result;
    for (const Container& container : m_containers)
        if (holds(container.name, q) || holds(container.image, q) ||
            holds(container.labels.value(projectKey), q))
            result.append(container);
    return result;
}

QList<DockerImage> AppStore::matchingImages() const
{
    const QString q = query(m_filter);
    if (q.isEmpty())
        return m_images;
    QList<DockerImage> result;
    for (const DockerImage& image : m_images)
        if (holds(image.repository + u':' + image.tag, q))
            result.append(image);
    return result;
}

QList<DockerVolume> AppStore::matchingVolumes() const
{
    const QString q = query(m_filter);
    if (q.isEmpty())
        return m_volumes;
    QList<DockerVolume> result;
    for (const DockerVolume& volume : m_volumes)
        if (holds(volume.name, q))
            result.append(volume);
    return result;
}

QList<ComposeProject> AppStore::projects() const
{
    const QList<ComposeProject> groups = Docker::group(matchingContainers());
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
        for (ComposeProject& project : ProjectRegistry::merge(discovered, known)) {
            project.runtime = runtime;
            result.append(std::move(project));
        }
    }
    std::stable_sort(result.begin(), result.end(), [](const ComposeProject& a, const ComposeProject& b) {
        if (a.name != b.name)
            return a.name < b.name;
        return a.id() < b.id();
    });

    const QString q = query(m_filter);
    if (q.isEmpty())
        return result;
    result.removeIf([&q](const ComposeProject& p) { return p.containers.isEmpty() && !holds(p.name, q); });
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
