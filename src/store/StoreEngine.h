#pragma once

#include "engine/Compose.h"
#include "engine/Container.h"
#include "engine/FolderUsers.h"
#include "engine/Runtime.h"
#include "engine/Teardown.h"
#include "engine/Usage.h"
#include "engine/VolumeData.h"
#include "platform/PreparedProcess.h"

#include <QCoroTask>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

// Everything the application store asks of the engines, in one place, so that tests can answer in
// any order and at any pace. Every call but contextsFolder runs on a background pool, several at a
// time, so an implementation must be thread-safe. The listing, discovery and usage calls throw
// DockerError or Platform::LaunchError when a runtime does not answer.
class StoreEngine {
public:
    virtual ~StoreEngine() = default;

    virtual Docker::Discovery runtimes() = 0;
    virtual QList<Container> containers(const std::optional<Runtime>& runtime) = 0;
    virtual QList<DockerImage> images(const std::optional<Runtime>& runtime) = 0;
    virtual QList<DockerVolume> volumes(const std::optional<Runtime>& runtime) = 0;
    virtual DiskUsage usage(const std::optional<Runtime>& runtime) = 0;

    // What the statistics and address commands print; none when they fail or run past their limit.
    virtual std::optional<QString> dockerStats(const std::optional<Runtime>& runtime) = 0;
    virtual std::optional<QString> appleStats() = 0;
    virtual std::optional<QString> appleAddresses() = 0;

    // One user action's command, run to its end; what it prints is not wanted. Throws as the
    // listings do, with the client's trimmed error output. Once `limit` has passed the command is ended
    // with everything it started and throws Docker::TimedOut as a runtime that is not answering;
    // without a limit it runs until it ends (or the application's way out ends it).
    virtual void run(const QStringList& args, const std::optional<Runtime>& runtime,
                     const std::optional<QString>& cwd, std::optional<std::chrono::milliseconds> limit) = 0;
    // A command whose outcome the caller reads itself. Never throws: a child that cannot start gives
    // status -1 and the reason as `err`. `input` is written to its standard input, which is then closed.
    // It may take as long as one command of a removal; then it fails as a runtime that is not answering.
    virtual Platform::Capture capture(const QStringList& args, const std::optional<Runtime>& runtime,
                                      const std::optional<QString>& cwd,
                                      const std::optional<QString>& input) = 0;
    // The same without input, ended once `limit` has passed with everything it started; it then fails
    // as a runtime that is not answering. `cancel` (may be null) ends it sooner, as a failure too.
    virtual Platform::Capture captureWithin(const QStringList& args, const std::optional<Runtime>& runtime,
                                            const std::optional<QString>& cwd,
                                            std::chrono::milliseconds limit,
                                            const Platform::Cancellation* cancel) = 0;
    // Whether the project in `dir` can be started from `files` (none: the folder's own file) with
    // `envFiles` (none: the folder's .env). Never throws.
    virtual ComposeCheck checkCompose(const QString& dir, const QStringList& files,
                                      const QStringList& envFiles) = 0;
    // The project in `dir` as compose resolves it, under `projectName` when one is given, from `files`
    // (none: the folder's own file). Throws DockerError when the folder holds no readable project, and
    // Docker::TimedOut when compose has not finished within `limit` or `cancel` (may be null) ended it.
    virtual ComposeConfig composeProject(const QString& dir, const std::optional<QString>& projectName,
                                         const QStringList& files, const Platform::Cancellation* cancel,
                                         std::chrono::seconds limit) = 0;
    // Which named volumes each container (by name) mounts; none when the engine has not answered within
    // the listing limit, failed for a container that still exists, or `cancel` (may be null) ended the
    // query. Never throws.
    virtual std::optional<Docker::MountMap> volumeMounts(const QStringList& containers,
                                                         const std::optional<Runtime>& runtime,
                                                         const Platform::Cancellation* cancel) = 0;
    // The host paths each container (by identifier) bind-mounts; none when the engine failed, has not
    // answered within the listing limit, or `cancel` (may be null) ended the query. Never throws.
    virtual std::optional<Docker::BindMap> bindSources(const QStringList& ids,
                                                       const std::optional<Runtime>& runtime,
                                                       const Platform::Cancellation* cancel) = 0;
    // The host paths each named volume keeps its data in or takes it from (Docker::parseVolumeFolders),
    // by name; none as for bindSources. Never throws.
    virtual std::optional<QMap<QString, QStringList>> volumeFolders(const QStringList& names,
                                                                    const std::optional<Runtime>& runtime,
                                                                    const Platform::Cancellation* cancel) = 0;
    // The engine's own identifier and data folder; none when it has not answered within the listing
    // limit or `cancel` (may be null) ended the query, empty ones when it refused. Never throws.
    virtual std::optional<Docker::EngineInfo> engineInfo(const std::optional<Runtime>& runtime,
                                                         const Platform::Cancellation* cancel) = 0;
    // Each named volume's creation time as the engine prints it, by name (Docker::volumeCreation); a
    // volume that is gone, or was made again while it was looked at, has none. None when the engine
    // has not answered within the listing limit. Never throws.
    virtual std::optional<QMap<QString, QString>> volumeCreation(const QStringList& names,
                                                                 const std::optional<Runtime>& runtime) = 0;

    // The engine's own time now, as it prints it (Docker::engineTime); none when it does not say within
    // the listing limit. Never throws.
    virtual std::optional<QString> engineTime(const std::optional<Runtime>& runtime) = 0;
    // Of the named volumes, those made or removed since `since` (an engineTime), with what happened to
    // each last (Docker::volumeEvents); none when the engine cannot tell within the listing limit.
    // Never throws.
    virtual std::optional<QMap<QString, QString>> volumeEvents(const QStringList& names, const QString& since,
                                                               const std::optional<Runtime>& runtime) = 0;

    // Where the engine keeps the named volumes on this machine (Docker::volumeData): nothing local when
    // it does not say within the listing limit, `cancel` (may be null) ended the questions, or its data
    // folder here is not its own. Never throws.
    virtual Docker::VolumeData volumeData(const QStringList& names, const std::optional<Runtime>& runtime,
                                          const Platform::Cancellation* cancel) = 0;
    // The same where the engine's identity and its volumes' folders (Docker::volumeFolders) were just
    // told: those are not asked again.
    virtual Docker::VolumeData volumeData(const Docker::EngineInfo&, const QMap<QString, QStringList>&,
                                          const QStringList& names, const std::optional<Runtime>& runtime,
                                          const Platform::Cancellation* cancel)
    {
        return volumeData(names, runtime, cancel);
    }

    // Whether an endpoint can be reached without asking it: a Unix socket whose file exists, or any
    // other kind of address. Called on a background pool; a socket that cannot be looked at in time
    // counts as reachable.
    virtual bool isReachable(const QString& endpoint) = 0;
    // The folder whose contents decide what discovery finds (Docker::contextsFingerprint); empty when
    // there is none to watch.
    virtual QString contextsFolder() = 0;

    // The engines themselves, through the docker client and Apple's tool.
    static std::shared_ptr<StoreEngine> system();
};

// The text the user is shown for what an engine call threw: the client's error output for a
// DockerError, the reason a child could not start for a Platform::LaunchError.
QString failureText(const std::exception_ptr& failure);

// How a command is named when it failed without a word: "docker stop", "docker volume rm",
// "docker compose down".
QString commandTitle(const QStringList& args);

// The failure text of a captured command: none when it exited 0; otherwise its trimmed error output,
// or, when it said nothing, the command's title, " exited " and the status.
std::optional<QString> commandFailure(const QStringList& args, const Platform::Capture& result);

// The store's sense of time. `now` may be called from any thread; `sleep` only on the main thread.
struct StoreClock {
    std::function<QDateTime()> now;
    std::function<QCoro::Task<>(std::chrono::milliseconds)> sleep;

    static StoreClock system();
};
