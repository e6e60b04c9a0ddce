#pragma once

// An engine for the application store whose answers, pace and order a test decides, and the clock
// beside it. Header only, so that the benchmark can use the same engine.

#include "engine/Docker.h"
#include "platform/TimedRunner.h"
#include "store/FakeClock.h"
#include "store/StoreEngine.h"

#include <QCoroTask>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <coroutine>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace StoreTesting {

// Holds one engine call on its worker thread until the test opens it.
class Gate {
public:
    void open()
    {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }

    // True once the held call has arrived and waits.
    bool waitArrived(std::chrono::milliseconds limit = std::chrono::seconds(20))
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, limit, [this] { return m_arrived; });
    }

    // Waits until the gate opens; false when `cancel` was set first.
    bool pass(const Platform::Cancellation* cancel = nullptr)
    {
        std::unique_lock lock(m_mutex);
        m_arrived = true;
        m_changed.notify_all();
        while (!m_open) {
            if (cancel && cancel->isCancelled())
                return false;
            m_changed.wait_for(lock, std::chrono::milliseconds(10));
        }
        return true;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
    bool m_arrived = false;
};

// Answers from a script kept per runtime identifier ("" for the client's own context). A runtime
// without a script lists nothing and measures nothing. Answers are read when a call is let through,
// so a test may change them while a call is held.
class ScriptedEngine final : public StoreEngine {
public:
    enum class Call {
        Runtimes,
        Containers,
        Images,
        Volumes,
        Usage,
        DockerStats,
        AppleStats,
        AppleAddresses,
        Run,
        Capture,
        CheckCompose,
        ComposeProject,
        VolumeMounts,
        BindSources,
        VolumeFolders,
        VolumeCreation,
        EngineTime,
        VolumeEvents,
        EngineInfo,
        VolumeData,
    };

    // One command an action ran, through run or capture.
    struct Command {
        QStringList args;
        QString runtime; // identifier, "" for none
        std::optional<QString> cwd;
        std::optional<QString> input;

        bool operator==(const Command&) const = default;
    };

    struct Listing {
        QList<Container> containers;
        QList<DockerImage> images;
        QList<DockerVolume> volumes;
    };

    void setDiscovery(const Docker::Discovery& discovery)
    {
        std::lock_guard lock(m_mutex);
        m_discovery = discovery;
        m_discoveryFailure.reset();
    }
    void failDiscovery(const QString& text)
    {
        std::lock_guard lock(m_mutex);
        m_discoveryFailure = text;
    }

    // The items are marked with the runtime, as the client's listings are.
    void setListing(const std::optional<Runtime>& runtime, Listing listing)
    {
        for (Container& c : listing.containers)
            c.runtime = runtime;
        for (DockerImage& i : listing.images)
            i.runtime = runtime;
        for (DockerVolume& v : listing.volumes)
            v.runtime = runtime;
        std::lock_guard lock(m_mutex);
        m_listings.insert(key(runtime), listing);
        m_listingFailures.remove(key(runtime));
    }
    // The runtime's listings throw `text`, the first one already.
    void failListing(const std::optional<Runtime>& runtime, const QString& text)
    {
        std::lock_guard lock(m_mutex);
        m_listingFailures.insert(key(runtime), text);
    }

    // None: the usage query throws.
    void setUsage(const std::optional<Runtime>& runtime, const std::optional<DiskUsage>& usage)
    {
        std::lock_guard lock(m_mutex);
        m_usage.insert(key(runtime), usage);
    }
    void setDockerStats(const std::optional<Runtime>& runtime, const std::optional<QString>& out)
    {
        std::lock_guard lock(m_mutex);
        m_dockerStats.insert(key(runtime), out);
    }
    void setAppleStats(const std::optional<QString>& out)
    {
        std::lock_guard lock(m_mutex);
        m_appleStats = out;
    }
    void setAppleAddresses(const std::optional<QString>& out)
    {
        std::lock_guard lock(m_mutex);
        m_appleAddresses = out;
    }
    void setUnreachable(const QString& endpoint, bool unreachable = true)
    {
        std::lock_guard lock(m_mutex);
        if (unreachable)
            m_unreachable.append(endpoint);
        else
            m_unreachable.removeAll(endpoint);
    }

    // What `docker <args>` answers, for run and capture alike; a command without an answer succeeds
    // and prints nothing. run throws the trimmed error output of an answer whose status is not 0.
    void answer(const QStringList& args, const Platform::Capture& result)
    {
        std::lock_guard lock(m_mutex);
        m_answers.insert(args, result);
    }
    void failCommand(const QStringList& args, const QString& err, int status = 1)
    {
        answer(args, {status, QString(), err});
    }
    // The limit each command run through `run` was given, in order.
    QList<std::optional<std::chrono::milliseconds>> runLimits() const
    {
        std::lock_guard lock(m_mutex);
        return m_runLimits;
    }
    QList<Command> commands() const
    {
        std::lock_guard lock(m_mutex);
        return m_commands;
    }
    // The argument lists of every command so far, in order.
    QList<QStringList> commandArgs() const
    {
        QList<QStringList> out;
        for (const Command& command : commands())
            out << command.args;
        return out;
    }

    void setCheck(const QString& dir, const ComposeCheck& check)
    {
        std::lock_guard lock(m_mutex);
        m_checks.insert(dir, check);
    }
    // None: reading the folder throws `failure`.
    void setComposeProject(const QString& dir, const std::optional<ComposeConfig>& config,
                           const QString& failure = QStringLiteral("no compose project here"))
    {
        std::lock_guard lock(m_mutex);
        m_configs.insert(dir, config);
        m_configFailures.insert(dir, failure);
    }
    // The project names the folders were read under, in order ("" for none).
    QStringList composeNamesAsked() const
    {
        std::lock_guard lock(m_mutex);
        return m_composeNames;
    }
    // What the containers of a runtime mount; asked for a list of names, the engine answers for those.
    void setMounts(const std::optional<Runtime>& runtime, const Docker::MountMap& mounts)
    {
        std::lock_guard lock(m_mutex);
        m_mounts.insert(key(runtime), mounts);
    }
    QList<QStringList> mountsAsked() const
    {
        std::lock_guard lock(m_mutex);
        return m_mountsAsked;
    }
    // What the containers of a runtime bind-mount, by identifier; none: the query fails.
    void setBinds(const std::optional<Runtime>& runtime, const std::optional<Docker::BindMap>& binds)
    {
        std::lock_guard lock(m_mutex);
        m_binds.insert(key(runtime), binds);
    }
    // The host paths the volumes of a runtime keep their data in, by name.
    void setVolumeFolders(const std::optional<Runtime>& runtime, const QMap<QString, QStringList>& folders)
    {
        std::lock_guard lock(m_mutex);
        m_volumeFolders.insert(key(runtime), folders);
    }
    // The runtime's engine does not say where its volumes keep their data.
    void failVolumeFolders(const std::optional<Runtime>& runtime)
    {
        std::lock_guard lock(m_mutex);
        m_volumeFolders.insert(key(runtime), std::nullopt);
    }
    // What a runtime's engine says of itself; none: it does not answer. One without an entry refuses.
    void setEngineInfo(const std::optional<Runtime>& runtime, const std::optional<Docker::EngineInfo>& info)
    {
        std::lock_guard lock(m_mutex);
        m_engineInfo.insert(key(runtime), info);
    }
    // When the volumes of a runtime were made; a volume without an entry was made at createdDefault.
    void setCreation(const std::optional<Runtime>& runtime, const QMap<QString, QString>& created)
    {
        std::lock_guard lock(m_mutex);
        m_creation.insert(key(runtime), created);
    }
    static QString createdDefault() { return QStringLiteral("2026-01-01T00:00:00Z"); }
    // Which volumes of a runtime were made or removed since the deletion began, and how last; none: the
    // engine cannot tell.
    void setVolumeEvents(const std::optional<Runtime>& runtime,
                         const std::optional<QMap<QString, QString>>& events)
    {
        std::lock_guard lock(m_mutex);
        m_volumeEvents.insert(key(runtime), events);
    }
    // Where a runtime's engine keeps its volumes on this machine; asked for some, it answers with the
    // folders of those. A runtime without an entry is not local.
    void setVolumeData(const std::optional<Runtime>& runtime, const Docker::VolumeData& data)
    {
        std::lock_guard lock(m_mutex);
        m_volumeData.insert(key(runtime), data);
    }
    // From now on `rm -f <ids>` and a compose down that succeed take those containers (the project's)
    // out of the runtime's listing, as the engine would; one labelled "compose.ignores" stays after a
    // down, as a container compose does not take for the project's own does.
    void removeWhatIsRemoved()
    {
        std::lock_guard lock(m_mutex);
        m_removes = true;
    }

    // The next `call` for `runtime` waits at the returned gate. A call that does not heed cancelling
    // waits there all the same, as work no child can be ended for (a look at a stalled mount) does.
    std::shared_ptr<Gate> hold(Call call, const std::optional<Runtime>& runtime = std::nullopt,
                               bool heedsCancel = true)
    {
        auto gate = std::make_shared<Gate>();
        std::lock_guard lock(m_mutex);
        m_holds.append({call, key(runtime), gate, heedsCancel});
        m_gates.append(gate);
        return gate;
    }
    void openAll()
    {
        std::lock_guard lock(m_mutex);
        for (const auto& gate : std::as_const(m_gates))
            gate->open();
        m_holds.clear();
    }

    int count(Call call, const std::optional<Runtime>& runtime = std::nullopt) const
    {
        std::lock_guard lock(m_mutex);
        return int(m_calls.count({call, key(runtime)}));
    }
    // Calls on any runtime.
    int total(Call call) const
    {
        std::lock_guard lock(m_mutex);
        return int(
            std::count_if(m_calls.cbegin(), m_calls.cend(), [&](const auto& c) { return c.first == call; }));
    }

    Docker::Discovery runtimes() override
    {
        arrive(Call::Runtimes, {});
        std::lock_guard lock(m_mutex);
        if (m_discoveryFailure)
            throw DockerError(*m_discoveryFailure);
        return m_discovery;
    }
    QList<Container> containers(const std::optional<Runtime>& runtime) override
    {
        return listed(Call::Containers, runtime).containers;
    }
    QList<DockerImage> images(const std::optional<Runtime>& runtime) override
    {
        return listed(Call::Images, runtime).images;
    }
    QList<DockerVolume> volumes(const std::optional<Runtime>& runtime) override
    {
        return listed(Call::Volumes, runtime).volumes;
    }
    DiskUsage usage(const std::optional<Runtime>& runtime) override
    {
        arrive(Call::Usage, key(runtime));
        std::lock_guard lock(m_mutex);
        const std::optional<DiskUsage> usage = m_usage.value(key(runtime));
        if (!usage)
            throw DockerError(QStringLiteral("no usage for ") + key(runtime));
        return *usage;
    }
    std::optional<QString> dockerStats(const std::optional<Runtime>& runtime) override
    {
        arrive(Call::DockerStats, key(runtime));
        std::lock_guard lock(m_mutex);
        return m_dockerStats.value(key(runtime));
    }
    std::optional<QString> appleStats() override
    {
        arrive(Call::AppleStats, {});
        std::lock_guard lock(m_mutex);
        return m_appleStats;
    }
    std::optional<QString> appleAddresses() override
    {
        arrive(Call::AppleAddresses, {});
        std::lock_guard lock(m_mutex);
        return m_appleAddresses;
    }
    void run(const QStringList& args, const std::optional<Runtime>& runtime,
             const std::optional<QString>& cwd, std::optional<std::chrono::milliseconds> limit) override
    {
        {
            std::lock_guard lock(m_mutex);
            m_runLimits << limit;
        }
        const Platform::Capture done = command(Call::Run, {args, key(runtime), cwd, std::nullopt});
        if (done.status != 0)
            throw DockerError(done.err.trimmed());
    }
    Platform::Capture capture(const QStringList& args, const std::optional<Runtime>& runtime,
                              const std::optional<QString>& cwd, const std::optional<QString>& input) override
    {
        return command(Call::Capture, {args, key(runtime), cwd, input});
    }
    // A held command that is cancelled ends as the runner ends it: a failure with the runner's words.
    Platform::Capture captureWithin(const QStringList& args, const std::optional<Runtime>& runtime,
                                    const std::optional<QString>& cwd, std::chrono::milliseconds,
                                    const Platform::Cancellation* cancel) override
    {
        return command(Call::Capture, {args, key(runtime), cwd, std::nullopt}, cancel);
    }
    ComposeCheck checkCompose(const QString& dir, const QStringList&, const QStringList&) override
    {
        arrive(Call::CheckCompose, {});
        std::lock_guard lock(m_mutex);
        return m_checks.value(dir, ComposeCheck::valid());
    }
    ComposeConfig composeProject(const QString& dir, const std::optional<QString>& projectName,
                                 const QStringList&, const Platform::Cancellation*, std::chrono::seconds) override
    {
        arrive(Call::ComposeProject, {});
        std::lock_guard lock(m_mutex);
        m_composeNames << projectName.value_or(QString());
        const std::optional<ComposeConfig> config = m_configs.value(dir);
        if (!config)
            throw DockerError(m_configFailures.value(dir, QStringLiteral("no compose project here")));
        return *config;
    }
    std::optional<Docker::MountMap> volumeMounts(const QStringList& containers,
                                                 const std::optional<Runtime>& runtime,
                                                 const Platform::Cancellation*) override
    {
        arrive(Call::VolumeMounts, key(runtime));
        std::lock_guard lock(m_mutex);
        m_mountsAsked << containers;
        return only(m_mounts.value(key(runtime)), containers);
    }
    std::optional<Docker::BindMap> bindSources(const QStringList& ids, const std::optional<Runtime>& runtime,
                                               const Platform::Cancellation*) override
    {
        arrive(Call::BindSources, key(runtime));
        std::lock_guard lock(m_mutex);
        const std::optional<Docker::BindMap> all = m_binds.value(key(runtime), Docker::BindMap());
        if (!all)
            return std::nullopt;
        return only(*all, ids);
    }
    std::optional<Docker::EngineInfo> engineInfo(const std::optional<Runtime>& runtime,
                                                 const Platform::Cancellation* cancel) override
    {
        if (!arrive(Call::EngineInfo, key(runtime), cancel))
            return std::nullopt;
        std::lock_guard lock(m_mutex);
        return m_engineInfo.value(key(runtime), Docker::EngineInfo());
    }
    std::optional<QMap<QString, QStringList>> volumeFolders(const QStringList& names,
                                                            const std::optional<Runtime>& runtime,
                                                            const Platform::Cancellation*) override
    {
        arrive(Call::VolumeFolders, key(runtime));
        std::lock_guard lock(m_mutex);
        const std::optional<QMap<QString, QStringList>> all =
            m_volumeFolders.value(key(runtime), QMap<QString, QStringList>());
        if (!all)
            return std::nullopt;
        return only(*all, names);
    }
    std::optional<QMap<QString, QString>> volumeCreation(const QStringList& names,
                                                         const std::optional<Runtime>& runtime) override
    {
        arrive(Call::VolumeCreation, key(runtime));
        std::lock_guard lock(m_mutex);
        const QMap<QString, QString> all = m_creation.value(key(runtime));
        QMap<QString, QString> asked;
        for (const QString& name : names)
            asked.insert(name, all.value(name, createdDefault()));
        return asked;
    }
    std::optional<QString> engineTime(const std::optional<Runtime>& runtime) override
    {
        arrive(Call::EngineTime, key(runtime));
        return createdDefault();
    }
    std::optional<QMap<QString, QString>> volumeEvents(const QStringList& names, const QString&,
                                                       const std::optional<Runtime>& runtime) override
    {
        arrive(Call::VolumeEvents, key(runtime));
        std::lock_guard lock(m_mutex);
        const std::optional<QMap<QString, QString>> all =
            m_volumeEvents.value(key(runtime), QMap<QString, QString>());
        if (!all)
            return std::nullopt;
        return only(*all, names);
    }
    Docker::VolumeData volumeData(const QStringList& names, const std::optional<Runtime>& runtime,
                                  const Platform::Cancellation* cancel) override
    {
        if (!arrive(Call::VolumeData, key(runtime), cancel))
            return {};
        std::lock_guard lock(m_mutex);
        Docker::VolumeData data = m_volumeData.value(key(runtime));
        data.folders = only(data.folders, names);
        return data;
    }
    bool isReachable(const QString& endpoint) override
    {
        std::lock_guard lock(m_mutex);
        return !m_unreachable.contains(endpoint);
    }
    QString contextsFolder() override
    {
        std::lock_guard lock(m_mutex);
        return m_contextsFolder;
    }
    // The folder the store watches for changes of the contexts; none by default.
    void setContextsFolder(const QString& folder)
    {
        std::lock_guard lock(m_mutex);
        m_contextsFolder = folder;
    }

private:
    // The entries of `all` under `keys`, as an engine answers for what it was asked about.
    template <typename Map>
    static Map only(const Map& all, const QStringList& keys)
    {
        Map asked;
        for (const QString& wanted : keys)
            if (const auto found = all.constFind(wanted); found != all.cend())
                asked.insert(wanted, *found);
        return asked;
    }

    struct Hold {
        Call call;
        QString runtime;
        std::shared_ptr<Gate> gate;
        bool heedsCancel = true;
    };

    static QString key(const std::optional<Runtime>& runtime) { return Docker::runtimeId(runtime); }

    // False when the call was held and `cancel` was set before the gate opened.
    bool arrive(Call call, const QString& runtime, const Platform::Cancellation* cancel = nullptr)
    {
        std::shared_ptr<Gate> gate;
        {
            std::lock_guard lock(m_mutex);
            m_calls.append({call, runtime});
            for (qsizetype i = 0; i < m_holds.size(); ++i) {
                if (m_holds[i].call == call && m_holds[i].runtime == runtime) {
                    const Hold held = m_holds.takeAt(i);
                    gate = held.gate;
                    if (!held.heedsCancel)
                        cancel = nullptr;
                    break;
                }
            }
        }
        return !gate || gate->pass(cancel);
    }

    Platform::Capture command(Call call, const Command& command,
                              const Platform::Cancellation* cancel = nullptr)
    {
        const bool answered = arrive(call, command.runtime, cancel);
        std::lock_guard lock(m_mutex);
        m_commands << command;
        if (!answered)
            return {-1, QString(), Docker::stoppedMessage()};
        const Platform::Capture result = m_answers.value(command.args, Platform::Capture{});
        if (m_removes && result.status == 0)
            takeOut(command);
        return result;
    }

    // What a removal that succeeded takes out of its runtime's listing. Called with the lock held.
    void takeOut(const Command& command)
    {
        const auto listing = m_listings.find(command.runtime);
        if (listing == m_listings.end())
            return;
        const QStringList& args = command.args;
        if (args.size() > 2 && args[0] == u"rm" && args[1] == u"-f") {
            listing->containers.removeIf([&](const Container& c) { return args.contains(c.id); });
        } else if (args.size() > 3 && args[0] == u"compose" && args[1] == u"-p" && args.contains(u"down")) {
            listing->containers.removeIf([&](const Container& c) {
                return c.labels.value(QString::fromLatin1(Docker::projectLabel)) == args[2] &&
                       !c.labels.contains(QStringLiteral("compose.ignores"));
            });
        }
    }

    Listing listed(Call call, const std::optional<Runtime>& runtime)
    {
        arrive(call, key(runtime));
        std::lock_guard lock(m_mutex);
        const auto failure = m_listingFailures.constFind(key(runtime));
        if (failure != m_listingFailures.cend())
            throw DockerError(*failure);
        return m_listings.value(key(runtime));
    }

    mutable std::mutex m_mutex;
    Docker::Discovery m_discovery;
    std::optional<QString> m_discoveryFailure;
    QHash<QString, Listing> m_listings;
    QHash<QString, QString> m_listingFailures;
    QHash<QString, std::optional<DiskUsage>> m_usage;
    QHash<QString, std::optional<QString>> m_dockerStats;
    std::optional<QString> m_appleStats;
    std::optional<QString> m_appleAddresses;
    QStringList m_unreachable;
    QString m_contextsFolder;
    QHash<QStringList, Platform::Capture> m_answers;
    QList<Command> m_commands;
    QList<std::optional<std::chrono::milliseconds>> m_runLimits;
    QHash<QString, ComposeCheck> m_checks;
    QHash<QString, std::optional<ComposeConfig>> m_configs;
    QHash<QString, QString> m_configFailures;
    QStringList m_composeNames;
    QHash<QString, Docker::MountMap> m_mounts;
    QList<QStringList> m_mountsAsked;
    QHash<QString, std::optional<Docker::BindMap>> m_binds;
    QHash<QString, QMap<QString, QString>> m_creation;
    QHash<QString, std::optional<QMap<QString, QString>>> m_volumeEvents;
    QHash<QString, std::optional<QMap<QString, QStringList>>> m_volumeFolders;
    QHash<QString, std::optional<Docker::EngineInfo>> m_engineInfo;
    QHash<QString, Docker::VolumeData> m_volumeData;
    bool m_removes = false;
    QList<Hold> m_holds;
    QList<std::shared_ptr<Gate>> m_gates;
    QList<std::pair<Call, QString>> m_calls;
};

} // namespace StoreTesting
