#include "store/AppStore.h"

#include "engine/Compose.h"
#include "engine/Networks.h"
#include "platform/ByteCount.h"
#include "platform/DiskLook.h"
#include "platform/FolderIdentity.h"
#include "platform/FolderLooks.h"
#include "platform/Pools.h"
#include "platform/TimedRunner.h"
#include "store/PlanUsers.h"
#include "store/VolumeRecheck.h"

#include <QDeadlineTimer>

#include <algorithm>
#include <utility>

namespace {

// What the registry remembers the runtime's projects under; none for the client's own context.
std::optional<QString> registryKey(const std::optional<Runtime>& runtime)
{
    return runtime ? std::optional<QString>(runtime->id()) : std::nullopt;
}

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

// The plan's containers that `listed` still holds, as the plan names them and by identifier.
QList<std::pair<QString, QString>> stillThere(const TeardownPlan& plan, const QList<Container>& listed)
{
    QList<std::pair<QString, QString>> left;
    for (qsizetype i = 0; i < plan.containerIds.size(); ++i)
        if (std::any_of(listed.cbegin(), listed.cend(),
                        [&](const Container& c) { return c.id == plan.containerIds[i]; }))
            left.append({plan.containers.value(i, plan.containerIds[i]), plan.containerIds[i]});
    return left;
}

// Removes by identifier whatever the plan named that is still listed once the project was taken down,
// and names what even that leaves. The failure texts, in order.
QStringList removeLeftovers(StoreEngine& engine, const TeardownPlan& plan, const std::optional<Runtime>& on,
                            std::chrono::milliseconds limit, const Platform::Cancellation* stop)
{
    QStringList failures;
    const auto listed = [&]() -> std::optional<QList<std::pair<QString, QString>>> {
        try {
            return stillThere(plan, engine.containers(on));
        } catch (...) {
            failures << failureText(std::current_exception());
            return std::nullopt;
        }
    };
    const std::optional<QList<std::pair<QString, QString>>> left = listed();
    if (!left || left->isEmpty() || stop->isCancelled())
        return failures;
    QStringList removal{QStringLiteral("rm"), QStringLiteral("-f")};
    for (const auto& [name, id] : *left)
        removal << id;
    if (const std::optional<QString> failed =
            commandFailure(removal, engine.captureWithin(removal, on, std::nullopt, limit, stop)))
        failures << *failed;
    if (stop->isCancelled())
        return failures;
    if (const std::optional<QList<std::pair<QString, QString>>> stays = listed())
        for (const auto& [name, id] : *stays)
            failures << QStringLiteral("%1 is still there: it could not be removed.").arg(name);
    return failures;
}

// "Nothing was removed, as the plan could not be checked again: <what>.": a plan made again that
// differs only for want of answers claims no change.
QString notCheckedAgain(const QStringList& unchecked)
{
    return QStringLiteral("Nothing was removed, as the plan could not be checked again: %1.")
        .arg(unchecked.join(QStringLiteral("; ")));
}

// Removes the plan's removable volumes that are still the ones it showed. One removed and made again
// under its name since the plan was made (during the down, say) holds someone's new data: it stays,
// named, and so does one nothing can tell apart from such a one. The failure texts, in order.
QStringList removeVolumes(StoreEngine& engine, const TeardownPlan& plan, const std::optional<Runtime>& on,
                          std::chrono::milliseconds limit, const Platform::Cancellation* stop)
{
    const VolumesNow now = volumesNow(engine, plan, on, stop);
    QStringList failures = now.kept;
    const QStringList removal = QStringList{QStringLiteral("volume"), QStringLiteral("rm")} + now.removed;
    if (!now.removed.isEmpty() && !stop->isCancelled())
        if (const std::optional<QString> failed =
                commandFailure(removal, engine.captureWithin(removal, on, std::nullopt, limit, stop)))
            failures << *failed;
    return failures;
}

// The project as the registry knows it: by the folder its containers name.
KnownProject knownAs(const TeardownPlan& plan)
{
    return {plan.project, plan.folderLink.value_or(plan.workingDir.value_or(QString())), {}};
}

// What became of a move to the Trash.
struct TrashMove {
    std::optional<QString> failure;
    bool answered = true; // false: its look server did not say in time, and it may still happen
};

// Moves the folder `dir`, while it is `expected`, to the Trash in a look server, as one step of a
// deletion may take `limit`.
TrashMove moveFolder(const QString& dir, const Platform::FileIdentity& expected,
                     std::chrono::milliseconds limit)
{
    const std::optional<std::optional<QString>> moved =
        Platform::lookAtFolder(dir, Platform::Looks::trashMove(dir, expected), limit);
    if (!moved)
        return {Platform::folderNotAnswering(dir) +
                    QStringLiteral(
                        " Its move to the Trash may still finish; the project is then forgotten at the "
                        "next start."),
                false};
    return {*moved, true};
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

QList<std::optional<Runtime>> AppStore::everyRuntime(const std::optional<Runtime>& on) const
{
    QList<std::optional<Runtime>> runtimes{on};
    for (const RuntimeEntry& entry : std::as_const(m_runtimes))
        if (!runtimes.contains(entry.runtime))
            runtimes << entry.runtime;
    return runtimes;
}

PlanAsk AppStore::planAsk(const ComposeProject& project, const std::optional<Runtime>& on) const
{
    PlanAsk ask{project,
                on,
                everyRuntime(on),
                on ? m_registry.byRuntime.value(on->id()) : QList<KnownProject>(),
                volumeSizes(on),
                m_folderLimit,
                m_beforeFolderLook,
                rememberedBesides(m_registry, project.name, registryKey(on))};
    // Runtimes the client did not list were not asked who uses the folder.
    if (m_discoveryFailure)
        ask.runtimesUnanswered = notAnswered(QStringLiteral("the list of contexts"), *m_discoveryFailure);
    return ask;
}

QCoro::Task<TeardownPlan> AppStore::teardownPlan(ComposeProject project,
                                                 std::shared_ptr<Platform::Cancellation> cancel)
{
    const std::shared_ptr<StoreEngine> engine = m_engine;
    auto job = Platform::onUserInitiated([engine, ask = planAsk(project, actingOn(project.runtime)), cancel] {
        return makePlan(*engine, ask, cancel.get()).plan;
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

QCoro::Task<std::optional<TeardownPlan>> AppStore::deleteProject(TeardownPlan plan, std::optional<Runtime> on,
                                                                 bool trashDirectory)
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
    std::optional<TeardownPlan> changed;
    std::optional<QString> composeDir;

    // The plan made again from what is there now. What goes must be what the user was shown, not what
    // came since under its names: a project taken down and up again, a volume made anew or declared
    // external, a container started meanwhile, a user of the folder. A folder on a mount that stalls
    // fails the deletion instead of holding it up.
    if (!stop->isCancelled()) {
        const ComposeProject shown{plan.project, plan.workingDir, {}, 0, on};
        auto job = Platform::onUserInitiated([engine, ask = planAsk(shown, on), plan, on, stop] {
            FreshPlan fresh = makePlan(*engine, ask, stop.get());
            carryVolumesOver(*engine, plan, fresh.plan, on);
            return fresh;
        });
        const FreshPlan fresh = co_await std::move(job);
        if (!self)
            co_return std::nullopt;
        if (fresh.failure)
            failures << *fresh.failure;
        else if (fresh.folderUnanswered)
            failures << Platform::folderNotAnswering(*fresh.folderUnanswered);
        else if (sameRemoval(plan, fresh.plan, trashDirectory))
            ; // what goes is what was shown
        else if (const QStringList unchecked = uncheckedDifference(plan, fresh, trashDirectory);
                 !unchecked.isEmpty())
            failures << notCheckedAgain(unchecked);
        else
            changed = fresh.plan;
        composeDir = fresh.composeDir;
    }
    const bool proceed = failures.isEmpty() && !changed;

    // The project goes down first: through compose where its file is, else container by container.
    // Then the volumes only it used. One command after the other, each in its folder, if any.
    const QStringList removal = QStringList{QStringLiteral("rm"), QStringLiteral("-f")} + plan.containerIds;
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
    } else if (composeDir) {
        steps.append(
            {composeCommand(plan.project, QStringLiteral("down")) << QStringLiteral("--remove-orphans"),
             composeDir});
    } else if (!plan.containers.isEmpty()) {
        steps.append({removal, std::nullopt});
        steps.append({networks, std::nullopt});
    }

    qsizetype i = 0;
    for (; i < steps.size() && !stop->isCancelled(); ++i) {
        if (steps[i].first == removal) {
            auto read = Platform::onUserInitiated(
                [engine, ids = plan.containerIds, on, limit = m_removalLimit, stop] {
                    return Docker::attachedNetworks(ids, capturing(engine, on, limit, stop));
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
        const bool composeRefusedName =
            failed && steps[i].second && failed->contains(u"invalid project name");
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

    // compose down leaves what it does not take for the project's own, a group that only carries its
    // labels say: whatever the plan named and is still there goes by its identifier, and what stays
    // is named, so that no success is told while a container of the plan remains.
    if (proceed && !steps.isEmpty() && !stop->isCancelled()) {
        auto job = Platform::onUserInitiated([engine, plan, on, limit = m_removalLimit, stop] {
            return removeLeftovers(*engine, plan, on, limit, stop.get());
        });
        const QStringList left = co_await std::move(job);
        if (!self)
            co_return std::nullopt;
        // A removal that failed once says the same the second time.
        for (const QString& failure : left)
            if (!failures.contains(failure))
                failures << failure;
    }

    if (proceed && !plan.removable().isEmpty() && !stop->isCancelled()) {
        auto job = Platform::onUserInitiated([engine, plan, on, limit = m_removalLimit, stop] {
            return removeVolumes(*engine, plan, on, limit, stop.get());
        });
        failures << co_await std::move(job);
        if (!self)
            co_return std::nullopt;
    } else if (proceed && !plan.removable().isEmpty()) {
        unfinished = true;
    }

    bool noted = false;
    // The folder goes only while it is still the plan's and nobody else's: a project may have been
    // started from it, or a container may have bind-mounted it, since the plan was made.
    if (trashDirectory && plan.workingDir && proceed && stop->isCancelled()) {
        unfinished = true;
    } else if (trashDirectory && plan.workingDir && proceed && m_discoveryFailure) {
        // The runtimes could not be listed again since the plan: those not asked may use the folder.
        failures << QStringLiteral("%1 was not moved to the Trash: not every runtime could be asked who uses "
                                   "it (the list of contexts: %2).")
                        .arg(*plan.workingDir, *m_discoveryFailure);
    } else if (trashDirectory && plan.workingDir && proceed) {
        // Should the move end after the application, the next start forgets the project.
        noted = on && failures.isEmpty() && !unfinished;
        if (noted)
            noteTrashMove(knownAs(plan), on->id(), true, *plan.workingDir);
        auto job = Platform::onUserInitiated(
            [engine, plan, runtimes = everyRuntime(on), limit = m_folderLimit,
             remembered = rememberedBesides(m_registry, plan.project, registryKey(on)),
             first = m_beforeFolderLook, removal = m_removalLimit, stop]() -> TrashMove {
                if (std::optional<QString> kept =
                        trashStillFree(*engine, plan, runtimes, remembered, limit, first, stop.get()))
                    return {kept, true};
                // Only the folder the plan showed, by its identity, looked at once more as it goes.
                if (!plan.folder)
                    return {QStringLiteral(
                                "%1 was not moved to the Trash: the plan did not say which folder it is.")
                                .arg(*plan.workingDir),
                            true};
                return moveFolder(*plan.workingDir, *plan.folder, removal);
            });
        const TrashMove moved = co_await std::move(job);
        if (!self)
            co_return std::nullopt;
        if (moved.failure)
            failures << *moved.failure;
        // It may still go: the note stays for the next start to settle.
        if (!moved.answered)
            noted = false;
    }

    // Forgotten only once it is gone as planned; otherwise it stays listed beside the failure, to be
    // deleted again.
    if (proceed && failures.isEmpty() && !unfinished && !stop->isCancelled()) {
        ProjectRegistry changedRegistry = m_registry;
        changedRegistry.forget(plan.project, registryKey(on));
        keepRegistry(changedRegistry);
    }
    if (noted)
        noteTrashMove(knownAs(plan), on->id(), false, *plan.workingDir);

    // A plan that no longer holds is no failure: the sheet shows the new one.
    if (!changed)
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
    co_return changed;
}
