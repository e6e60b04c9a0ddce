#include "store/AppStore.h"

#include "engine/Compose.h"
#include "engine/Networks.h"
#include "platform/ByteCount.h"
#include "platform/DiskLook.h"
#include "platform/Pools.h"
#include "platform/TimedRunner.h"
#include "platform/Trash.h"

#include <QDeadlineTimer>

#include <algorithm>
#include <utility>

namespace {

// One command of a deletion, on the user-initiated pool; its failure text, or none.
QCoro::Task<std::optional<QString>> runStep(std::shared_ptr<StoreEngine> engine, QStringList args,
                                            std::optional<Runtime> on, std::optional<QString> cwd,
                                            std::chrono::milliseconds limit,
                                            std::shared_ptr<Platform::Cancellation> stop)
{
    auto job = Platform::onUserInitiated([engine, args, on, cwd, limit, stop] {
        return commandFailure(args, engine->captureWithin(args, on, cwd, limit, stop.get()));
    });
    co_return co_await std::move(job);
}

// Docker commands of a deletion, each ended with what it started once `limit` has passed or `stop`
// is asked for.
Docker::Capture capturing(std::shared_ptr<StoreEngine> engine, std::optional<Runtime> on,
                          std::chrono::milliseconds limit, std::shared_ptr<Platform::Cancellation> stop)
{
    return [engine, on, limit, stop](const QStringList& args) {
        return engine->captureWithin(args, on, std::nullopt, limit, stop.get());
    };
}

// Removes the spare ones of the networks a project's removed containers were attached to; the
// failures, one line each, or none.
QCoro::Task<std::optional<QString>> removeNetworks(std::shared_ptr<StoreEngine> engine, QStringList attached,
                                                   QString project, std::optional<Runtime> on,
                                                   std::chrono::milliseconds limit,
                                                   std::shared_ptr<Platform::Cancellation> stop)
{
    auto job = Platform::onUserInitiated([engine, attached, project, on, limit, stop] {
        QStringList failures;
        for (const Docker::FailedCommand& failed :
             Docker::removeSpareNetworks(attached, project, capturing(engine, on, limit, stop)))
            failures << commandFailure(failed.args, failed.result).value_or(QString());
        return failures.isEmpty() ? std::nullopt : std::optional<QString>(failures.join(u'\n'));
    });
    co_return co_await std::move(job);
}

// What a plan reads of a project's folder before compose reads it.
struct PlanFolder {
    // The compose files its containers were made from (none named: the folder's own); none when one of
    // them is missing, and then there is nothing to read.
    std::optional<QStringList> files;
};

// Looks at the disk, and may wait as long as the disk does.
PlanFolder planFolder(const ComposeProject& project)
{
    try {
        return {Docker::composeFilesOf(project)};
    } catch (...) {
        return {};
    }
}

} // namespace

QMap<QString, QString> AppStore::volumeSizes(const std::optional<Runtime>& on) const
{
    // Only as the engine measured what the volumes hold. The mount point's own size on the host is
    // that of a directory entry, the same few kilobytes for every volume.
    QMap<QString, QString> sizes;
    if (!m_usage)
        return sizes;
    const std::optional<Runtime> runtime = actingOn(on);
    for (const DockerVolume& volume : std::as_const(m_volumes)) {
        if (actingOn(volume.runtime) != runtime)
            continue;
        const qint64 bytes = m_usage->volumeBytes(volume.name, runtime).value_or(0);
        if (bytes > 0)
            sizes.insert(volume.name, Platform::fileSize(bytes));
    }
    return sizes;
}

QCoro::Task<TeardownPlan> AppStore::teardownPlan(ComposeProject project,
                                                 std::shared_ptr<Platform::Cancellation> cancel)
{
    const std::optional<Runtime> on = actingOn(project.runtime);
    QList<Container> neighbours;
    QStringList names;
    for (const Container& container : std::as_const(m_containers)) {
        if (actingOn(container.runtime) == on) {
            neighbours << container;
            names << container.name;
        }
    }
    Docker::PlanReadings readings;
    for (const DockerVolume& volume : std::as_const(m_volumes))
        if (actingOn(volume.runtime) == on)
            readings.listed << volume;
    const QMap<QString, QString> sizes = volumeSizes(on);

    const std::shared_ptr<StoreEngine> engine = m_engine;
    auto job = Platform::onUserInitiated(
        [engine, project, on, neighbours, names, readings, sizes, cancel]() mutable {
            // The folder is looked at while the engine answers, so a mount that stalls holds the plan up
            // no longer than an engine that does not answer.
            const QDeadlineTimer folderLimit(Platform::folderAnswerLimit);
            Platform::PendingLook<PlanFolder> folder;
            if (project.workingDir)
                folder = Platform::startFolderLook(*project.workingDir,
                                                   [project] { return planFolder(project); });
            std::optional<PlanFolder> found = folder.wait(Platform::heldUpAfter);
            readings.mounts = engine->volumeMounts(names, on, cancel.get());
            // A sheet closed meanwhile lets the folder go.
            if (!found)
                found = folder.wait(std::chrono::milliseconds(folderLimit.remainingTime()), cancel.get());
            std::optional<QString> unanswered;
            if (project.workingDir && !found)
                unanswered = std::exchange(project.workingDir, std::nullopt);
            // compose reads a name it does not take as given (an empty one, say) as another project's,
            // the one of the folder, whose volumes would then look declared by this one.
            if (project.workingDir && found->files && Docker::composeAcceptsName(project.name)) {
                try {
                    // Read under the project's own name, from the files its containers were made from:
                    // its volumes are named after it, whatever name the folder would give a project
                    // started from it, and an override file may declare more of them.
                    readings.config = engine->composeProject(*project.workingDir, project.name,
                                                             *found->files, cancel.get());
                } catch (const Docker::TimedOut&) {
                    readings.configTimedOut = true;
                } catch (...) {
                    // no declared volumes, nothing worse
                }
            }
            TeardownPlan plan = Docker::planFrom(project, neighbours, readings, sizes);
            if (unanswered)
                plan.notes << Platform::folderNotAnswering(*unanswered) +
                                  QStringLiteral(" Volumes its compose file declares that no container "
                                                 "mounts are not planned, and the folder is not offered "
                                                 "for the Trash.");
            return plan;
        });
    co_return co_await std::move(job);
}

void AppStore::windDown()
{
    m_woundDown = true;
    for (const std::shared_ptr<Platform::Cancellation>& deletion : std::as_const(m_deletions))
        deletion->cancel();
    for (const std::shared_ptr<Platform::Cancellation>& reclaim : std::as_const(m_reclaims))
        reclaim->cancel();
}

QCoro::Task<std::optional<QList<Container>>>
AppStore::deleteProject(TeardownPlan plan, std::optional<Runtime> on, bool trashDirectory)
{
    QPointer<AppStore> self(this);
    const std::shared_ptr<StoreEngine> engine = m_engine;
    const auto stop = std::make_shared<Platform::Cancellation>();
    // Asked for on the way out, once the work under way was told to stop: nothing more goes.
    if (m_woundDown)
        stop->cancel();
    m_deletions << stop;
    emit deletionsChanged();
    BusyHold busy = holdBusy();
    const std::optional<Runtime> changing = actingOn(on);
    beginProjectChange(plan.project, changing);
    QStringList failures;
    std::optional<QList<Container>> relisted;

    // compose takes an empty -p for the folder's own project, and other names it does not take as
    // given for another project's: such a project never goes through compose, whatever its folder holds.
    const bool byCompose = Docker::composeAcceptsName(plan.project);
    bool composeFileThere = false;
    if (byCompose && plan.workingDir) {
        // A folder on a mount that stalls would hold the window up for as long as the stall lasts.
        auto look = lookAtFolder([dir = *plan.workingDir] { return Docker::composeFile(dir).has_value(); });
        const std::optional<bool> found = co_await std::move(look);
        if (!self)
            co_return std::nullopt;
        if (found)
            composeFileThere = *found;
        else
            failures << Platform::folderNotAnswering(*plan.workingDir);
    }

    // The project as it is now: a container started since the plan was made (compose run, say) would
    // go with compose down, and its folder with it, without the user ever having seen it.
    if (failures.isEmpty() && !stop->isCancelled()) {
        auto listing = Platform::onUserInitiated([engine, on] { return engine->containers(on); });
        try {
            const QList<Container> listed = co_await std::move(listing);
            QList<Container> now;
            QStringList names;
            for (const Container& container : listed) {
                if (container.project() == plan.project) {
                    now << container;
                    names << container.name;
                }
            }
            QStringList planned = plan.containers;
            std::sort(names.begin(), names.end());
            std::sort(planned.begin(), planned.end());
            if (names != planned) {
                std::sort(now.begin(), now.end(),
                          [](const Container& a, const Container& b) { return a.name < b.name; });
                relisted = now;
            }
        } catch (...) {
            failures << failureText(std::current_exception());
        }
        if (!self)
            co_return std::nullopt;
    }
    const bool proceed = failures.isEmpty() && !relisted;

    // The project goes down first: through compose where its file is, else container by container.
    // Then the volumes only it used. One command after the other, each in its folder, if any.
    const QStringList removal = QStringList{QStringLiteral("rm"), QStringLiteral("-f")} + plan.containers;
    // What compose down would also have taken: the project's networks. Left behind, each holds one of
    // the engine's few address ranges and nothing here shows it. Only those the removed containers
    // were attached to (read just before they go), labelled with exactly this name and used by no
    // container afterwards: removeNetworks does that where this step stands in the list.
    const QStringList networks{QStringLiteral("network"), QStringLiteral("rm")};
    QStringList attached;
    QList<std::pair<QStringList, std::optional<QString>>> steps;
    // The plan lists every container of the project, also those compose ran for one-off tasks and
    // those of services the file no longer names, which a plain down leaves behind.
    if (!proceed) {
        // nothing goes
    } else if (composeFileThere) {
        steps.append({composeCommand(plan.project, QStringLiteral("down")) << QStringLiteral("--remove-orphans"),
                      plan.workingDir});
    } else if (!plan.containers.isEmpty()) {
        steps.append({removal, std::nullopt});
        steps.append({networks, std::nullopt});
    }
    QStringList volumes{QStringLiteral("volume"), QStringLiteral("rm")};
    for (const VolumeUse& volume : plan.removable())
        volumes << volume.name;
    if (proceed && volumes.size() > 2)
        steps.append({volumes, std::nullopt});

    qsizetype i = 0;
    for (; i < steps.size() && !stop->isCancelled(); ++i) {
        if (steps[i].first == removal) {
            auto read = Platform::onUserInitiated([engine, names = plan.containers, on, limit = m_removalLimit, stop] {
                return Docker::attachedNetworks(names, capturing(engine, on, limit, stop));
            });
            attached = co_await std::move(read);
            if (!self)
                co_return std::nullopt;
            if (stop->isCancelled())
                break;
        }
        auto job = steps[i].first == networks
                       ? removeNetworks(engine, attached, plan.project, on, m_removalLimit, stop)
                       : runStep(engine, steps[i].first, on, steps[i].second, m_removalLimit, stop);
        const std::optional<QString> failed = co_await std::move(job);
        if (!self)
            co_return std::nullopt;
        // A compose that refuses the name after all: the containers go one by one, as when the file is gone.
        const bool composeRefusedName = failed && steps[i].second && failed->contains(u"invalid project name");
        if (composeRefusedName && !plan.containers.isEmpty()) {
            steps.insert(i + 1, {removal, std::nullopt});
            steps.insert(i + 2, {networks, std::nullopt});
            continue;
        }
        if (failed)
            failures << *failed;
    }

    // A step cut short has said so among the failures; one never started leaves the project half done.
    bool unfinished = i < steps.size();
    bool noted = false;
    if (trashDirectory && plan.workingDir && proceed && stop->isCancelled()) {
        unfinished = true;
    } else if (trashDirectory && plan.workingDir && proceed) {
        // Should the move end after the application, the next start forgets the project.
        noted = on && failures.isEmpty() && !unfinished;
        if (noted)
            noteTrashMove({plan.project, *plan.workingDir, {}}, on->id(), true);
        auto job = Platform::onUserInitiated([dir = *plan.workingDir] { return Platform::moveToTrash(dir); });
        const std::optional<QString> failed = co_await std::move(job);
        if (!self)
            co_return std::nullopt;
        if (failed)
            failures << *failed;
    }

    // Forgotten only once it is gone as planned; otherwise it stays listed beside the failure, to be
    // deleted again.
    if (proceed && failures.isEmpty() && !unfinished) {
        ProjectRegistry changed = m_registry;
        changed.forget(plan.project, on ? std::optional<QString>(on->id()) : std::nullopt);
        keepRegistry(changed);
    }
    if (noted)
        noteTrashMove({plan.project, *plan.workingDir, {}}, on->id(), false);

    // A plan that no longer holds is no failure: the sheet shows the new one.
    if (!relisted)
        setError(failures.isEmpty() ? std::nullopt : std::optional<QString>(failures.join(u'\n')));
    endProjectChange(plan.project, changing);
    // On the way out the listing would only hold the quit up.
    if (!stop->isCancelled()) {
        co_await refresh(false);
        if (!self)
            co_return std::nullopt;
    }
    m_deletions.removeOne(stop);
    busy.release();
    emit deletionsChanged();
    co_return relisted;
}
