#include "toolchain/ToolchainStore.h"

#include "platform/Pools.h"
#include "platform/Settings.h"
#include "toolchain/Survey.h"
#include "toolchain/Toolchain.h"

#include <QHash>
#include <QPointer>

#include <algorithm>
#include <cmath>

namespace {

// Later than any date a settings file could sensibly hold (the end of year 9999), so the
// conversion to milliseconds cannot overflow.
constexpr double latestStoredSeconds = 253402300799.0;

std::optional<QDateTime> storedDate(double seconds)
{
    if (!(seconds > 0.0 && seconds <= latestStoredSeconds))
        return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(std::llround(seconds * 1000.0), Qt::UTC);
}

struct Loaded {
    QList<Tool> tools;
    SystemStatus status;
    BuilderStatus builder;
    EngineStatus engine;
};

struct Checked {
    std::optional<QString> problem;
    QMap<QString, QString> latest;
    QList<Tool> tools;
    SystemStatus status;
};

} // namespace

ToolchainStore::Host ToolchainStore::Host::system()
{
    return {[] { return Toolchain::brewPath().has_value(); }, [] { return QDateTime::currentDateTimeUtc(); }};
}

ToolchainStore::ToolchainStore(Platform::Settings& defaults, QObject* parent)
    : ToolchainStore(defaults, Host::system(), parent)
{
}

ToolchainStore::ToolchainStore(Platform::Settings& defaults, Host host, QObject* parent)
    : QObject(parent), m_defaults(defaults), m_host(std::move(host))
{
    const Host fallback = Host::system();
    if (!m_host.brewPresent)
        m_host.brewPresent = fallback.brewPresent;
    if (!m_host.now)
        m_host.now = fallback.now;

    m_lastChecked = storedDate(m_defaults.number(QString::fromLatin1(lastCheckedKey), 0.0));
    const QStringList dismissed = m_defaults.stringList(QString::fromLatin1(dismissedKey));
    m_dismissed = QSet<QString>(dismissed.cbegin(), dismissed.cend());
    m_brewAvailable = m_host.brewPresent();
}

void ToolchainStore::setTools(const QList<Tool>& tools)
{
    if (m_tools == tools)
        return;
    m_tools = tools;
    emit toolsChanged();
}

void ToolchainStore::setStatus(const SystemStatus& status)
{
    if (m_status == status)
        return;
    m_status = status;
    emit statusChanged();
}

void ToolchainStore::setBuilder(const BuilderStatus& builder)
{
    if (m_builder == builder)
        return;
    m_builder = builder;
    emit builderChanged();
}

void ToolchainStore::setEngine(const EngineStatus& engine)
{
    if (m_engine == engine)
        return;
    m_engine = engine;
    emit engineChanged();
}

void ToolchainStore::setLastChecked(const std::optional<QDateTime>& lastChecked)
{
    // Written on every assignment, so a settings file edited meanwhile is put right again.
    m_defaults.setValue(QString::fromLatin1(lastCheckedKey),
                        lastChecked ? double(lastChecked->toMSecsSinceEpoch()) / 1000.0 : 0.0);
    if (m_lastChecked == lastChecked)
        return;
    m_lastChecked = lastChecked;
    emit lastCheckedChanged();
}

void ToolchainStore::setChecking(bool checking)
{
    if (m_checking == checking)
        return;
    m_checking = checking;
    emit checkingChanged();
}

void ToolchainStore::setNote(const std::optional<QString>& note)
{
    if (m_note == note)
        return;
    m_note = note;
    emit noteChanged();
}

QList<Tool> ToolchainStore::updatable() const
{
    QList<Tool> result;
    for (const Tool& tool : m_tools) {
        if (tool.brewManaged && tool.hasUpdate())
            result.append(tool);
    }
    return result;
}

QList<Tool> ToolchainStore::pendingUpdates() const
{
    QList<Tool> result = updatable();
    result.removeIf([this](const Tool& tool) { return m_dismissed.contains(tool.updateKey()); });
    return result;
}

QString ToolchainStore::noticeText() const
{
    const QList<Tool> pending = pendingUpdates();
    if (pending.isEmpty())
        return {};
    if (pending.size() == 1)
        return pending.first().name + QLatin1Char(' ') + pending.first().latest.value_or(QString()) +
               QStringLiteral(" is available");
    return QStringLiteral("%1 runtime updates are available").arg(pending.size());
}

bool ToolchainStore::isInstalled(const QString& formula) const
{
    const auto tool = std::find_if(m_tools.cbegin(), m_tools.cend(),
                                   [&formula](const Tool& t) { return t.formula == formula; });
    return tool != m_tools.cend() && tool->installed.has_value();
}

bool ToolchainStore::containerInstalled() const
{
    return isInstalled(QStringLiteral("container"));
}

bool ToolchainStore::colimaInstalled() const
{
    return isInstalled(QStringLiteral("colima"));
}

QCoro::Task<> ToolchainStore::checkAtLaunch(bool enabled)
{
    if (m_didLaunchCheck)
        co_return;
    // Set before the first suspension, so the second scene to appear returns at once.
    m_didLaunchCheck = true;
    QPointer<ToolchainStore> self(this);
    co_await load();
    if (!self || !enabled)
        co_return;
    co_await checkIfStale();
}

QCoro::Task<> ToolchainStore::load()
{
    const quint64 started = ++m_loadsStarted;
    QPointer<ToolchainStore> self(this);
    // The task is made in a statement of its own: see Platform::onPool.
    auto surveying = Platform::onUtility([brewPresent = m_host.brewPresent] {
        Loaded result;
        result.tools = Toolchain::survey(brewPresent());
        result.status = Toolchain::readSystemStatus();
        result.builder = Toolchain::readBuilderStatus();
        result.engine = Toolchain::readEngineStatus();
        return result;
    });
    const Loaded loaded = co_await std::move(surveying);
    // A load that started later has the fresher survey; this one must not overwrite it.
    if (!self || started != m_loadsStarted)
        co_return;
    setEngine(loaded.engine);
    merge(loaded.tools);
    setStatus(loaded.status);
    setBuilder(loaded.builder);
}

void ToolchainStore::merge(QList<Tool> tools)
{
    QHash<QString, std::optional<QString>> known;
    for (const Tool& tool : std::as_const(m_tools))
        known.insert(tool.formula, tool.latest);
    for (Tool& tool : tools)
        tool.latest = known.value(tool.formula);
    setTools(tools);
}

bool ToolchainStore::isStale(const std::optional<QDateTime>& lastChecked, const QDateTime& now)
{
    return !lastChecked || now < *lastChecked || lastChecked->msecsTo(now) >= staleAfterSeconds * 1000;
}

QCoro::Task<> ToolchainStore::checkIfStale()
{
    if (!m_brewAvailable)
        co_return;
    if (isStale(m_lastChecked, m_host.now()))
        co_await check();
}

QCoro::Task<> ToolchainStore::check()
{
    if (m_checking)
        co_return;
    setChecking(true);
    setNote(std::nullopt);
    QPointer<ToolchainStore> self(this);
    auto checking = Platform::onUtility([brewPresent = m_host.brewPresent] {
        const bool brew = brewPresent();
        Checked result;
        result.problem = Toolchain::refreshIndex(brew);
        result.latest = Toolchain::brewLatest(brew);
        result.tools = Toolchain::survey(brew);
        result.status = Toolchain::readSystemStatus();
        return result;
    });
    const Checked checked = co_await std::move(checking);
    if (!self)
        co_return;
    QList<Tool> tools = checked.tools;
    for (Tool& tool : tools) {
        const auto latest = checked.latest.constFind(tool.formula);
        tool.latest = latest == checked.latest.cend() ? std::nullopt : std::optional<QString>(*latest);
    }
    setTools(tools);
    setStatus(checked.status);
    setNote(checked.problem);
    setLastChecked(m_host.now());
    setChecking(false);
}

void ToolchainStore::dismissNotice()
{
    QSet<QString> dismissed = m_dismissed;
    for (const Tool& tool : pendingUpdates())
        dismissed.insert(tool.updateKey());
    if (dismissed == m_dismissed)
        return;
    m_dismissed = dismissed;
    QStringList stored(m_dismissed.cbegin(), m_dismissed.cend());
    stored.sort();
    m_defaults.setValue(QString::fromLatin1(dismissedKey), stored);
    emit dismissedChanged();
}
