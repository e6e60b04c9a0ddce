#include "store/StoreEngine.h"

#include "engine/Compose.h"
#include "engine/Docker.h"
#include "engine/Listings.h"
#include "engine/Reclaim.h"
#include "engine/Stats.h"
#include "engine/VolumeEvents.h"
#include "platform/ProcessRunner.h"
#include "toolchain/Toolchain.h"

#include <QCoroTimer>

namespace {

// A hung engine may hold a statistics pass up for this long per runtime, and no longer.
constexpr double statsLimitSeconds = 10.0;
// A look at a socket file answers at once, unless the mount that holds it stalls.
constexpr std::chrono::seconds reachableWithin{2};

QStringList statsArgs()
{
    return {QStringLiteral("stats"), QStringLiteral("--no-stream"), QStringLiteral("--format"),
            QStringLiteral("json")};
}

class SystemEngine final : public StoreEngine {
public:
    Docker::Discovery runtimes() override { return Docker::runtimes(); }
    QList<Container> containers(const std::optional<Runtime>& runtime) override
    {
        return Docker::containers(runtime);
    }
    QList<DockerImage> images(const std::optional<Runtime>& runtime) override
    {
        return Docker::images(runtime);
    }
    QList<DockerVolume> volumes(const std::optional<Runtime>& runtime) override
    {
        return Docker::volumes(runtime);
    }
    DiskUsage usage(const std::optional<Runtime>& runtime) override { return Docker::usage(runtime); }
    std::optional<QString> dockerStats(const std::optional<Runtime>& runtime) override
    {
        return Docker::timed(Docker::process(statsArgs(), runtime), statsLimitSeconds);
    }
    std::optional<QString> appleStats() override
    {
        return Docker::timed(Toolchain::process(QStringList{QStringLiteral("container")} + statsArgs()),
                             statsLimitSeconds);
    }
    std::optional<QString> appleAddresses() override
    {
        return Docker::timed(Toolchain::process({QStringLiteral("container"), QStringLiteral("ls"),
                                                 QStringLiteral("--format"), QStringLiteral("json")}),
                             statsLimitSeconds);
    }
    void run(const QStringList& args, const std::optional<Runtime>& runtime,
             const std::optional<QString>& cwd, std::optional<std::chrono::milliseconds> limit) override
    {
        if (limit)
            Docker::run(args, runtime, cwd, *limit);
        else
            Docker::run(args, runtime, cwd);
    }
    Platform::Capture capture(const QStringList& args, const std::optional<Runtime>& runtime,
                              const std::optional<QString>& cwd, const std::optional<QString>& input) override
    {
        return Docker::capture(args, runtime, cwd, input, Docker::removalLimit);
    }
    Platform::Capture captureWithin(const QStringList& args, const std::optional<Runtime>& runtime,
                                    const std::optional<QString>& cwd, std::chrono::milliseconds limit,
                                    const Platform::Cancellation* cancel) override
    {
        return Docker::capture(args, runtime, cwd, limit, cancel);
    }
    ComposeCheck checkCompose(const QString& dir, const QStringList& files,
                              const QStringList& envFiles) override
    {
        return Docker::checkCompose(dir, files, envFiles);
    }
    ComposeConfig composeProject(const QString& dir, const std::optional<QString>& projectName,
                                 const QStringList& files, const Platform::Cancellation* cancel,
                                 std::chrono::seconds limit) override
    {
        return Docker::composeProject(dir, projectName, files, cancel, limit);
    }
    std::optional<Docker::MountMap> volumeMounts(const QStringList& containers,
                                                 const std::optional<Runtime>& runtime,
                                                 const Platform::Cancellation* cancel) override
    {
        return Docker::volumeMounts(containers, runtime, Docker::listingLimit, cancel);
    }
    std::optional<Docker::BindMap> bindSources(const QStringList& ids, const std::optional<Runtime>& runtime,
                                               const Platform::Cancellation* cancel) override
    {
        return Docker::bindSources(ids, runtime, Docker::listingLimit, cancel);
    }
    std::optional<QMap<QString, QStringList>> volumeFolders(const QStringList& names,
                                                            const std::optional<Runtime>& runtime,
                                                            const Platform::Cancellation* cancel) override
    {
        return Docker::volumeFolders(names, runtime, Docker::listingLimit, cancel);
    }
    std::optional<Docker::EngineInfo> engineInfo(const std::optional<Runtime>& runtime,
                                                 const Platform::Cancellation* cancel) override
    {
        return Docker::engineInfo(runtime, Docker::listingLimit, cancel);
    }
    std::optional<QMap<QString, QString>> volumeCreation(const QStringList& names,
                                                         const std::optional<Runtime>& runtime) override
    {
        try {
            return Docker::volumeCreation(names, runtime, Docker::listingLimit);
        } catch (...) {
            return std::nullopt;
        }
    }
    std::optional<QString> engineTime(const std::optional<Runtime>& runtime) override
    {
        return Docker::engineTime(runtime, Docker::listingLimit);
    }
    std::optional<QMap<QString, QString>> volumeEvents(const QStringList& names, const QString& since,
                                                       const std::optional<Runtime>& runtime) override
    {
        return Docker::volumeEvents(names, since, runtime, Docker::listingLimit);
    }
    Docker::VolumeData volumeData(const QStringList& names, const std::optional<Runtime>& runtime,
                                  const Platform::Cancellation* cancel) override
    {
        return Docker::volumeData(names, runtime, Docker::listingLimit, cancel);
    }
    Docker::VolumeData volumeData(const Docker::EngineInfo& info, const QMap<QString, QStringList>& folders,
                                  const QStringList& names, const std::optional<Runtime>& runtime,
                                  const Platform::Cancellation* cancel) override
    {
        return Docker::volumeData(info, folders, names, runtime, Docker::listingLimit, cancel);
    }
    bool isReachable(const QString& endpoint) override
    {
        return Docker::isReachableWithin(endpoint, reachableWithin);
    }
    QString contextsFolder() override { return Docker::clientConfigFolder(); }
};

} // namespace

QString failureText(const std::exception_ptr& failure)
{
    if (!failure)
        return {};
    try {
        std::rethrow_exception(failure);
    } catch (const DockerError& error) {
        return error.errorDescription();
    } catch (const Platform::LaunchError& error) {
        return error.message();
    } catch (const std::exception& error) {
        return QString::fromLocal8Bit(error.what());
    } catch (...) {
        return QStringLiteral("The engine failed in an unexpected way.");
    }
}

QString commandTitle(const QStringList& args)
{
    static const QStringList groups{QStringLiteral("compose"), QStringLiteral("volume"),
                                    QStringLiteral("image"), QStringLiteral("builder")};
    QStringList words{QStringLiteral("docker")};
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& word = args[i];
        if (word == u"-p" || word == u"--context") {
            ++i; // a project or context name says nothing about what ran
            continue;
        }
        if (word.startsWith(u'-'))
            continue;
        words << word;
        if (!groups.contains(word))
            break;
    }
    return words.join(u' ');
}

std::optional<QString> commandFailure(const QStringList& args, const Platform::Capture& result)
{
    if (result.status == 0)
        return std::nullopt;
    const QString said = result.err.trimmed();
    if (!said.isEmpty())
        return said;
    return commandTitle(args) + QStringLiteral(" exited ") + QString::number(result.status) + u'.';
}

std::shared_ptr<StoreEngine> StoreEngine::system()
{
    return std::make_shared<SystemEngine>();
}

StoreClock StoreClock::system()
{
    return {[] { return QDateTime::currentDateTimeUtc(); },
            [](std::chrono::milliseconds interval) { return QCoro::sleepFor(interval); }};
}
