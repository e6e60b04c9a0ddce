#pragma once

#include "engine/ComposeProject.h"
#include "engine/ProjectRegistry.h"
#include "engine/Runtime.h"
#include "engine/Teardown.h"
#include "platform/DiskLook.h"
#include "store/StoreEngine.h"

#include <QList>
#include <QMap>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

namespace Platform {
class Cancellation;
}

// What a deletion plan is made from besides what the engines answer now.
struct PlanAsk {
    ComposeProject project;                 // as the user was shown it: its name, runtime and folder
    std::optional<Runtime> on;              // the runtime it is deleted on
    QList<std::optional<Runtime>> runtimes; // every runtime whose containers may use its folder
    QList<KnownProject> known;              // what the registry remembers of `on`'s projects
    QMap<QString, QString> sizes;           // volume name -> its size for display
    std::chrono::milliseconds folderLimit = Platform::folderAnswerLimit;
    std::function<void()> beforeFolderLook = {}; // runs first in every look at the folder (a test's stall)
    // What the registry remembers on every runtime but the project itself: their folders, and what their
    // compose files name, are used by them.
    QMap<QString, QList<KnownProject>> remembered = {};
    // `on`'s container listing when one was just made (a plan from the command line lists them to find
    // the project): it is not asked again, so an engine that does not answer holds the plan up once.
    std::optional<QList<Container>> listed = {};
    // Why `runtimes` may not be all there are, as the plan says it ("The engine did not answer in time:
    // the list of contexts."): then nobody can say who else uses the folder, and it is not offered for
    // the Trash.
    std::optional<QString> runtimesUnanswered = {};
};

// A deletion plan made from what the engines and the disk say now.
struct FreshPlan {
    TeardownPlan plan;
    // The listing of the project's runtime failed: nothing is known of the project as it is now.
    std::optional<QString> failure;
    // The project's folder, when it had not answered within the limit.
    std::optional<QString> folderUnanswered;
    // What could not be checked this time, one clause each ("the engine did not say which volumes the
    // containers mount"), of the volumes and of who uses the folder: a plan that differs from the one
    // shown only there, for want of these answers, tells no change, and asked again once the engines
    // answer it may well be the same.
    QStringList volumesUnchecked;
    QStringList folderUnchecked;
    // Where compose takes the project down: its one folder, named exactly, holding a compose file;
    // none when the containers are to be removed one by one. Whether the folder is offered for the
    // Trash does not matter here.
    std::optional<QString> composeDir;
};

// Makes the plan of deleting `ask.project` from scratch: its containers listed again on `ask.on` and
// grouped with what the registry remembers (a project located in a new folder has that folder), the
// volumes with their labels and creation times, the mounts, the compose files read again, and whether
// its folder may go to the Trash: not while anything a container, volume or engine of any of
// `ask.runtimes`, or another project's compose files, use lies at or under it (or holds it, for what
// is used with all below it), nor when a runtime could not say. The runtimes are asked at the same time.
// Blocks: run it off the window's thread. Folder looks are bounded by `ask.folderLimit`, engine
// queries by the listing limit, and `cancel` (may be null) ends them.
FreshPlan makePlan(StoreEngine& engine, const PlanAsk& ask, const Platform::Cancellation* cancel);

// Gives the volumes `now` would remove whose printed creation time moved since `shown` the time `shown`
// holds, where the engine's record says none of them was made or removed since `shown` was made, or,
// where that record is gone, its own folder is the one `shown` found: some engines print when a
// volume's data last changed, and that is no other volume. Blocks.
void carryVolumesOver(StoreEngine& engine, const TeardownPlan& shown, TeardownPlan& now,
                      const std::optional<Runtime>& on);

// What keeps `fresh` from telling whether deleting the project changed since `shown` (with `trash`, the
// folder too): the unchecked parts where the two differ, when they differ nowhere else. Empty when they
// are the same, or differ in what was checked: a change.
QStringList uncheckedDifference(const TeardownPlan& shown, const FreshPlan& fresh, bool trash);

// Whether `now` would remove and move exactly what `shown` does: the same containers by identifier,
// the same removable volumes by name and creation time, and with `trash`, the same folder by identity.
bool sameRemoval(const TeardownPlan& shown, const TeardownPlan& now, bool trash);

// Looks again, just before the move, whether the plan's folder may still go to the Trash: it is the
// folder the plan showed, and nothing outside the plan's containers uses it now. None when it may go;
// else "<folder> was not moved to the Trash: <why>.". Blocks, within the same limits as makePlan.
std::optional<QString>
trashStillFree(StoreEngine& engine, const TeardownPlan& plan, const QList<std::optional<Runtime>>& runtimes,
               const QMap<QString, QList<KnownProject>>& remembered, std::chrono::milliseconds folderLimit,
               const std::function<void()>& beforeFolderLook, const Platform::Cancellation* cancel);
