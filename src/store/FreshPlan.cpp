#include "store/FreshPlan.h"

#include "engine/Compose.h"
#include "engine/Docker.h"
#include "engine/FolderUsers.h"
#include "engine/Listings.h"
#include "engine/ProjectLooks.h"
#include "platform/TimedRunner.h"
#include "store/KernelUsers.h"
#include "store/PlanUsers.h"
#include "store/VolumeRecheck.h"
#include "store/VolumeWeighing.h"

#include <QDeadlineTimer>
#include <QSet>

#include <algorithm>
#include <future>

namespace {

// The names the folder is asked about; none when one of them cannot be named exactly.
std::optional<Docker::ComposeFileNames> namesOf(const ComposeProject& project)
{
    try {
        return Docker::composeFileNames(project);
    } catch (...) {
        return std::nullopt;
    }
}

// The project as its containers on `ask.on` form it now, with the folder the registry gives it (a
// project the user located in a new folder keeps that one).
ComposeProject asListed(const PlanAsk& ask, const QList<Container>& listed)
{
    const QString& name = ask.project.name;
    QList<Container> mine;
    for (const Container& container : listed)
        if (container.project() == name)
            mine << container;
    for (ComposeProject& project : ProjectRegistry::merge(Docker::group(mine), ask.known)) {
        if (project.name == name) {
            project.runtime = ask.project.runtime;
            return project;
        }
    }
    return ComposeProject{name, ask.project.workingDir, {}, ask.project.serviceCount, ask.project.runtime};
}

// The plan's volumes weighed, and where the engine keeps them here.
struct WeighedVolumes {
    VolumeWeighing weighing;
    Docker::VolumeData data;
};

// Weighs every volume the plan may remove (VolumeWeighing), from what the runtimes and the other
// projects' files said; the engine's identity and its volumes' folders were told while it was asked who
// uses the folder, and are not asked again. The kernel is asked only of an engine that keeps its
// volumes on this machine.
WeighedVolumes weighPlanVolumes(StoreEngine& engine, const PlanAsk& ask, const ComposeProject& project,
                                const std::optional<QList<Container>>& listed,
                                const Docker::PlanReadings& readings, const Users& users, const OwnParts& own,
                                const QList<OtherReading>& others, const Platform::Cancellation* cancel)
{
    WeighedVolumes weighed;
    const TeardownPlan first =
        Docker::planFrom(project, listed.value_or(QList<Container>()), readings, ask.sizes);
    WeighAsk weigh{ask.on, {}, own.containers};
    for (const VolumeUse& volume : first.volumes) {
        weigh.dataFolders.insert(volume.name, QString());
        weigh.mountedBy.insert(volume.name, volume.usedBy);
    }
    if (weigh.dataFolders.isEmpty())
        return weighed;
    for (const DockerVolume& volume : readings.listed)
        if (weigh.dataFolders.contains(volume.name))
            weigh.dataFolders.insert(volume.name, volume.mountpoint);
    if (users.ownInfo && users.ownFolders && !(cancel && cancel->isCancelled()))
        weighed.data = engine.volumeData(*users.ownInfo, *users.ownFolders, weigh.dataFolders.keys(), ask.on,
                                         cancel);
    if (weighed.data.local)
        weigh.host = kernelView(ask.folderLimit);
    weighed.weighing = weighVolumes(weigh, users, others);
    return weighed;
}

// Where the engine keeps the volumes the plan removes: nothing when it removes none.
Docker::VolumeData removableData(Docker::VolumeData data, const TeardownPlan& plan)
{
    QStringList names;
    for (const VolumeUse& volume : plan.removable())
        names << volume.name;
    if (names.isEmpty())
        return {};
    data.folders.removeIf([&names](const auto& entry) { return !names.contains(entry.key()); });
    return data;
}

QStringList sortedIds(const TeardownPlan& plan)
{
    QStringList ids = plan.containerIds;
    ids.sort();
    return ids;
}

QList<std::pair<QString, QString>> removedVolumes(const TeardownPlan& plan)
{
    QList<std::pair<QString, QString>> volumes;
    for (const VolumeUse& volume : plan.removable())
        volumes.append({volume.name, plan.volumesMade.value(volume.name)});
    return volumes;
}

} // namespace

FreshPlan makePlan(StoreEngine& engine, const PlanAsk& ask, const Platform::Cancellation* cancel)
{
    FreshPlan fresh;
    std::optional<QList<Container>> listed = ask.listed;
    if (!listed) {
        try {
            listed = engine.containers(ask.on);
        } catch (...) {
            fresh.failure = failureText(std::current_exception());
        }
    }
    ComposeProject project = listed ? asListed(ask, *listed) : ask.project;
    const auto first = ask.beforeFolderLook;

    // The folder is looked at while the engines answer, so a mount that stalls holds the plan up no
    // longer than an engine that does not answer.
    const QDeadlineTimer folderDeadline(ask.folderLimit);
    const auto left = [&] { return Platform::remaining(folderDeadline); };
    Platform::PendingLook<Docker::ComposeFilesFound> folder;
    const std::optional<Docker::ComposeFileNames> fileNames = namesOf(project);
    if (project.workingDir) {
        Platform::LookRequest<Docker::ComposeFilesFound> look =
            Docker::Looks::composeFiles(*project.workingDir, fileNames ? fileNames->files : QStringList());
        look.beforeLook = first;
        folder = Platform::startFolderLook(*project.workingDir, std::move(look), ask.folderLimit);
    }

    // The other runtimes are asked while this one answers for the project.
    std::future<Users> asking =
        std::async(std::launch::async | std::launch::deferred, [&engine, &ask, &listed, cancel] {
            return gatherUsers(engine, ask.runtimes, ask.on, listed, cancel);
        });
    Docker::PlanReadings readings;
    QStringList names;
    for (const Container& container : listed.value_or(QList<Container>()))
        names << container.name;
    // Without the listing nothing says who else mounts a volume: none may be planned as free.
    // The engine's time before its volumes are looked at: what is made or removed after it, this plan
    // has not seen. Not asked of an engine that did not list.
    std::optional<QString> began;
    if (listed) {
        began = engine.engineTime(ask.on);
        readings.mounts = engine.volumeMounts(names, ask.on, cancel);
        if (!readings.mounts)
            fresh.volumesUnchecked << QStringLiteral(
                "the engine did not say which volumes the containers mount");
    }
    try {
        readings.listed = engine.volumes(ask.on);
    } catch (...) {
        // then no volume is known to be the project's
        fresh.volumesUnchecked << QStringLiteral("the engine did not list the volumes");
    }
    // A volume whose project label the engine did not tell is not planned as the project's: said here.
    QStringList unlabelled;
    for (const DockerVolume& volume : std::as_const(readings.listed))
        if (volume.labelsUnanswered)
            unlabelled << volume.name;
    if (!unlabelled.isEmpty())
        fresh.volumesUnchecked << QStringLiteral("the engine did not say whose the volumes %1 are")
                                      .arg(unlabelled.join(QStringLiteral(", ")));
    QStringList labelled;
    for (const DockerVolume& volume : std::as_const(readings.listed))
        if (const auto label = volume.labels.constFind(QString::fromLatin1(Docker::projectLabel));
            label != volume.labels.cend() && *label == project.name)
            labelled << volume.name;
    // Their creation times are dated by the engine's clock: one that did not tell its time just now is
    // not asked again, and the plan stays within one limit.
    if (listed && !began && !labelled.isEmpty())
        fresh.volumesUnchecked << QStringLiteral("the engine did not say when the volumes were made");
    else if (!labelled.isEmpty() && !(cancel && cancel->isCancelled())) {
        const std::optional<QMap<QString, QString>> created = engine.volumeCreation(labelled, ask.on);
        readings.created = created.value_or(QMap<QString, QString>());
        if (!created)
            fresh.volumesUnchecked << QStringLiteral("the engine did not say when the volumes were made");
    }

    const std::optional<Docker::ComposeFilesFound> found = folder.wait(left(), cancel);
    std::optional<QString> unanswered;
    if (project.workingDir && !found) {
        unanswered = std::exchange(project.workingDir, std::nullopt);
        fresh.folderUnanswered = unanswered;
    }
    // compose reads a name it does not take as given (an empty one, say) as another project's, the one
    // of the folder, whose volumes would then look declared by this one.
    // Read only from the files its containers were made from (none named: the folder's own), and only
    // while none of them is missing.
    std::optional<QString> cutOff;
    if (project.workingDir && fileNames && found->missing.isEmpty() &&
        Docker::composeAcceptsName(project.name)) {
        try {
            // Read under the project's own name, from the files its containers were made from: its
            // volumes are named after it, whatever name the folder would give a project started from
            // it, and an override file may declare more of them.
            // Bounded as every other question of the plan, not as a check the user waits for.
            readings.config = engine.composeProject(*project.workingDir, project.name, fileNames->files,
                                                    cancel, Docker::listingLimit);
        } catch (const Docker::TimedOut&) {
            readings.configTimedOut = true;
            fresh.volumesUnchecked << QStringLiteral("compose did not read the project's files in time");
        } catch (const Docker::CutOff& cut) {
            // Not an answer that the files declare nothing: compose never finished reading them.
            fresh.volumesUnchecked << QStringLiteral("compose was cut off reading the project's files");
            cutOff = cut.errorDescription() + QStringLiteral(" Volumes the compose file declares that no "
                                                             "container mounts are not planned.");
        } catch (...) {
            // no declared volumes, nothing worse
        }
    }
    // Only a folder that is the project's one and can be named exactly is acted in, or judged.
    const bool oneFolder = project.workingDir && Docker::namesExactly(*project.workingDir) &&
                           project.containerFolders().size() <= 1;
    if (oneFolder && found->composeFile.has_value() && Docker::composeAcceptsName(project.name))
        fresh.composeDir = project.workingDir;

    const Users users = asking.get();
    // Each question that went unanswered is said, whatever it kept from the plan.
    QStringList unansweredSteps = users.unansweredSteps;
    if (!unlabelled.isEmpty())
        unansweredSteps.prepend(notAnsweredInTime(
            unlabelled.size() == 1
                ? QStringLiteral("the labels of volume ") + unlabelled.first()
                : QStringLiteral("the labels of volumes ") + unlabelled.join(QStringLiteral(", "))));
    if (ask.runtimesUnanswered)
        unansweredSteps.prepend(*ask.runtimesUnanswered);
    OwnParts own{project.name, {}};
    for (const Container& container : std::as_const(project.containers))
        own.containers << container.id;
    // What the other projects' compose files name, for the volumes they keep and the folder they use;
    // read within the folder looks' limit.
    const QList<OtherReading> others =
        readOthers(users, own, ask.remembered, QDeadlineTimer(ask.folderLimit), first, cancel);
    const WeighedVolumes weighed = weighPlanVolumes(engine, ask, project, listed, readings, users, own, others,
                                                    cancel);
    readings.heldBy = weighed.weighing.held;
    if (oneFolder) {
        if (!users.unanswered.isEmpty() || ask.runtimesUnanswered) {
            const QString why = users.unanswered.isEmpty()
                                    ? QStringLiteral("not every runtime could be asked who uses it")
                                    : unansweredReason(users.unanswered);
            // Nothing is said of a folder that is not there.
            if (found->there)
                readings.trash = Docker::TrashOffer{{}, why, {}};
            fresh.folderUnchecked << why;
        } else {
            // What the deletion would remove of the volumes, as the plan made below works it out.
            for (const VolumeUse& volume :
                 Docker::planFrom(project, listed.value_or(QList<Container>()), readings, ask.sizes)
                     .removable())
                own.volumes.insert(volume.name);
            // The engine mounts a volume it binds to a folder of the host where its data goes; those the
            // deletion removes are unmounted before the folder would move.
            QStringList passing;
            for (const DockerVolume& volume : std::as_const(readings.listed))
                if (own.volumes.contains(volume.name) && !volume.mountpoint.isEmpty())
                    passing << volume.mountpoint;
            // The judging gets a limit of its own: the folder has answered, and the engines and the files
            // may have taken most of the first.
            const SplitUses uses = splitUses(users, own, ask.on, others);
            std::optional<Docker::TrashOffer> judged =
                Docker::judgeTrashOffer(*project.workingDir, uses.others, uses.own,
                                        QDeadlineTimer(ask.folderLimit), first, cancel, passing);
            // The kernel's notes are the offer's: said beside it, in the sheet and the dump alike.
            if (judged)
                heedKernel(*judged, users.containers, own.containers, ask.folderLimit, passing);
            if (judged) {
                if (judged->unsure && judged->refusal)
                    fresh.folderUnchecked << *judged->refusal;
                readings.trash = std::move(judged);
            } else {
                unanswered = std::exchange(project.workingDir, std::nullopt);
                fresh.folderUnanswered = unanswered;
            }
        }
    }

    fresh.plan = Docker::planFrom(project, listed.value_or(QList<Container>()), readings, ask.sizes);
    fresh.plan.engineTime = began;
    fresh.plan.volumeData = removableData(weighed.data, fresh.plan);
    fresh.plan.notes << weighed.weighing.notes;
    for (auto step = unansweredSteps.crbegin(); step != unansweredSteps.crend(); ++step)
        fresh.plan.notes.prepend(*step);
    if (cutOff)
        fresh.plan.notes << *cutOff;
    if (fresh.failure)
        fresh.plan.notes.prepend(*fresh.failure);
    // A folder that is gone is said, or the sheet would say nothing of it at all.
    const bool gone = (found && !found->there) ||
                      (readings.trash && !readings.trash->identity && !readings.trash->refusal);
    if (oneFolder && project.workingDir && gone)
        fresh.plan.notes << QStringLiteral("%1 is not there any more: nothing to move to the Trash.")
                                .arg(*project.workingDir);
    if (unanswered)
        fresh.plan.notes << Platform::folderNotAnswering(*unanswered) +
                                QStringLiteral(
                                    " Volumes its compose file declares that no container mounts "
                                    "are not planned, and the folder is not offered for the Trash.");
    return fresh;
}

void carryVolumesOver(StoreEngine& engine, const TeardownPlan& shown, TeardownPlan& now,
                      const std::optional<Runtime>& on)
{
    QStringList moved;
    for (const VolumeUse& volume : now.removable())
        if (shown.volumesMade.contains(volume.name) && now.volumesMade.contains(volume.name) &&
            shown.volumesMade.value(volume.name) != now.volumesMade.value(volume.name))
            moved << volume.name;
    if (moved.isEmpty())
        return;
    // The engine's record since the plan, where it still keeps all of it; else the volume's own folder
    // as each plan found it.
    const std::optional<QMap<QString, QString>> happened =
        shown.engineTime ? engine.volumeEvents(moved, *shown.engineTime, on) : std::nullopt;
    for (const QString& name : std::as_const(moved))
        if (happened ? !happened->contains(name)
                     : Docker::sameVolume(shown.volumeData, now.volumeData, name) == Docker::Sameness::same)
            now.volumesMade.insert(name, shown.volumesMade.value(name));
}

QStringList uncheckedDifference(const TeardownPlan& shown, const FreshPlan& fresh, bool trash)
{
    const TeardownPlan& now = fresh.plan;
    if (shown.project != now.project || sortedIds(shown) != sortedIds(now))
        return {};
    QStringList why;
    if (removedVolumes(shown) != removedVolumes(now)) {
        if (fresh.volumesUnchecked.isEmpty())
            return {};
        why << fresh.volumesUnchecked;
    }
    if (trash && shown.workingDir && !(now.workingDir == shown.workingDir && now.folder == shown.folder)) {
        if (fresh.folderUnchecked.isEmpty())
            return {};
        why << fresh.folderUnchecked;
    }
    return why;
}

bool sameRemoval(const TeardownPlan& shown, const TeardownPlan& now, bool trash)
{
    if (shown.project != now.project || sortedIds(shown) != sortedIds(now) ||
        removedVolumes(shown) != removedVolumes(now))
        return false;
    if (!trash || !shown.workingDir)
        return true;
    return now.workingDir == shown.workingDir && now.folder && now.folder == shown.folder;
}

std::optional<QString>
trashStillFree(StoreEngine& engine, const TeardownPlan& plan, const QList<std::optional<Runtime>>& runtimes,
               const QMap<QString, QList<KnownProject>>& remembered, std::chrono::milliseconds folderLimit,
               const std::function<void()>& beforeFolderLook, const Platform::Cancellation* cancel)
{
    if (!plan.workingDir)
        return std::nullopt;
    const QString dir = *plan.workingDir;
    const auto notMoved = [&dir](const QString& why) {
        return QStringLiteral("%1 was not moved to the Trash: %2.").arg(dir, why);
    };
    if (runtimes.isEmpty())
        return notMoved(QStringLiteral("no runtime was asked who uses it"));
    const Users users = gatherUsers(engine, runtimes, runtimes.first(), std::nullopt, cancel);
    if (!users.unanswered.isEmpty())
        return notMoved(unansweredReason(users.unanswered));
    // The plan's own containers and removable volumes are gone by now, or are the plan's failure to say:
    // whatever still uses the folder, a container of the plan that outlived its removal or a volume of
    // the project left behind included, keeps it.
    const QList<Docker::FolderUse> others =
        splitUses(users, {plan.project, {}}, runtimes.first(), remembered, QDeadlineTimer(folderLimit),
                  beforeFolderLook, cancel)
            .others;
    const std::optional<Docker::TrashOffer> judged =
        Docker::judgeTrashOffer(dir, others, {}, QDeadlineTimer(folderLimit), beforeFolderLook, cancel);
    if (!judged)
        return notMoved(QStringLiteral("it does not answer"));
    if (judged->identity && judged->identity != plan.folder)
        return notMoved(QStringLiteral("it is not the folder the plan showed"));
    Docker::TrashOffer offer = *judged;
    heedKernel(offer, users.containers, {}, folderLimit);
    if (!offer.identity)
        return notMoved(offer.refusal.value_or(QStringLiteral("it is not there")));
    return std::nullopt;
}
