#include "diagnostics/PlanDump.h"

#include "diagnostics/Output.h"
#include "diagnostics/RuntimeDump.h"
#include "engine/Compose.h"
#include "engine/Docker.h"
#include "engine/Listings.h"
#include "engine/ProjectRegistry.h"
#include "engine/Teardown.h"
#include "engine/Usage.h"
#include "platform/ByteCount.h"
#include "platform/Settings.h"
#include "store/FreshPlan.h"
#include "store/PlanUsers.h"
#include "store/StoreEngine.h"

#include <QTextStream>

#include <algorithm>
#include <future>
#include <utility>

namespace Diagnostics {

namespace {

// Volume name -> its size for display, from the engine's verbose disk-usage report. The engine
// measures what the volume holds; the size of its mount point on the host would say nothing about
// that (and is often not readable at all). Sizes below one byte are not worth printing. Asked within
// the plan's own limit for the engine, not a measurement's: sizes an engine does not give in that time
// are left out like those it cannot give.
QMap<QString, QString> volumeSizes(const std::optional<Runtime>& runtime)
{
    QString detail;
    try {
        detail = Docker::diskUsageReport(runtime, true, Docker::listingLimit);
    } catch (const std::exception&) {
        return {};
    }
    QMap<QString, QString> sizes;
    const DiskUsage usage = Docker::parseUsage(QString(), detail, nullptr);
    for (auto it = usage.volumeSize.cbegin(); it != usage.volumeSize.cend(); ++it)
        if (it.value() >= 1)
            sizes.insert(it.key(), Platform::fileSize(it.value()));
    return sizes;
}

// The client's runtimes, or which question kept them from the plan.
struct Listed {
    std::optional<Docker::Discovery> found;
    std::optional<QString> unanswered;
};

Listed listRuntimes()
{
    try {
        return {Docker::runtimes(), std::nullopt};
    } catch (const Docker::TimedOut&) {
        return {std::nullopt, notAnsweredInTime(QStringLiteral("the list of contexts"))};
    } catch (...) {
        return {std::nullopt,
                notAnswered(QStringLiteral("the list of contexts"), failureText(std::current_exception()))};
    }
}

std::optional<QList<RuntimeEntry>> listedEntries(const Listed& listed)
{
    if (!listed.found)
        return std::nullopt;
    return listed.found->list;
}

} // namespace

int runPlan(QTextStream& out, const QString& project, const std::optional<QString>& context)
{
    return runPlan(out, project, context, ProjectRegistry::load(*Platform::Settings::standard()));
}

int runPlan(QTextStream& out, const QString& project, const std::optional<QString>& context,
            const ProjectRegistry& registry)
{
    // The client's runtimes are listed once, while the containers are: a client that does not answer
    // holds the plan up for its own limit, not on top of the others.
    const std::shared_future<Listed> discovering = std::async(std::launch::async, listRuntimes).share();
    // A word on the command line is checked before anything is asked of the runtime it names.
    if (context && !knownRuntime(out, context, listedEntries(discovering.get())))
        return 2;
    std::optional<Runtime> runtime = chosenRuntime(context);
    std::future<QMap<QString, QString>> sizing =
        std::async(std::launch::async, [runtime] { return volumeSizes(runtime); });

    QList<Container> containers;
    try {
        containers = Docker::containers(runtime);
    } catch (...) {
        // Without the listing there is no plan at all: a script reading this must not take it for one.
        printLine(out, QStringLiteral("plan failed: cannot list containers: ") +
                           failureText(std::current_exception()));
        return 1;
    }

    // Without a context the client's current one answered, as it does for the window, which shows it
    // under its own name: what the registry remembers under that name is this engine's projects, and
    // the plan is the window's only when it reads them so.
    const Listed& discovery = discovering.get();
    if (!context && discovery.found) {
        const QList<RuntimeEntry>& entries = discovery.found->list;
        const auto current =
            std::find_if(entries.cbegin(), entries.cend(), [](const RuntimeEntry& e) { return e.current; });
        if (current != entries.cend()) {
            runtime = current->runtime;
            for (Container& container : containers)
                container.runtime = runtime;
        }
    }

    const QList<ComposeProject> projects = Docker::group(containers);
    const auto found = std::find_if(projects.cbegin(), projects.cend(),
                                    [&](const ComposeProject& p) { return p.name == project; });
    if (found == projects.cend()) {
        QStringList names;
        for (const ComposeProject& p : projects)
            names << p.name;
        printLine(out, QStringLiteral("no project named ") + project + QStringLiteral(". Found: ") +
                           names.join(QStringLiteral(", ")));
        return 2;
    }

    // As the window would plan it: with the folder the registry has for the project on the runtime the
    // window shows, and with the containers of every runtime it lists as possible users of that folder.
    QList<std::optional<Runtime>> runtimes{runtime};
    if (discovery.found)
        for (const RuntimeEntry& entry : discovery.found->list)
            if (!runtimes.contains(entry.runtime))
                runtimes << entry.runtime;
    const std::optional<QString> shownAs = runtime ? std::optional<QString>(runtime->id()) : std::nullopt;
    PlanAsk ask{*found, runtime, runtimes,
                shownAs ? registry.byRuntime.value(*shownAs) : QList<KnownProject>(), sizing.get()};
    ask.remembered = rememberedBesides(registry, project, shownAs);
    ask.listed = containers;
    ask.runtimesUnanswered = discovery.unanswered;
    const FreshPlan fresh = makePlan(*StoreEngine::system(), ask, nullptr);
    if (fresh.failure) {
        printLine(out, QStringLiteral("plan failed: cannot list containers: ") + *fresh.failure);
        return 1;
    }
    const TeardownPlan& plan = fresh.plan;

    printLine(out, QStringLiteral("delete ") + plan.project + QStringLiteral(" would:"));
    for (const QString& name : plan.containers)
        printLine(out, QStringLiteral("  remove container  ") + name);
    for (const VolumeUse& volume : plan.removable())
        printLine(out, QStringLiteral("  remove volume     ") + volume.name +
                           (volume.size ? QStringLiteral("  (") + *volume.size + u')' : QString()));
    for (const VolumeUse& volume : plan.kept())
        printLine(out, QStringLiteral("  KEEP volume       ") + volume.name +
                           QStringLiteral(u"  \u2014 ") + volume.heldSaying().join(QStringLiteral("; ")));
    if (plan.workingDir)
        printLine(out, QStringLiteral("  offer to trash    ") + *plan.workingDir);
    if (plan.workingDir && plan.folderLink)
        printLine(out, QStringLiteral("  reached through   ") + *plan.folderLink +
                           QStringLiteral("  (a link; it stays)"));
    for (const QString& bind : plan.folderBinds)
        printLine(out, QStringLiteral("  with the folder   ") + bind);
    // What the sheet says beside the Trash choice, in its words.
    if (plan.workingDir)
        for (const QString& note : plan.trashNotes)
            printLine(out, QStringLiteral("  beside the offer  ") + note);
    if (plan.containers.isEmpty() && plan.volumes.isEmpty())
        printLine(out, QStringLiteral("  nothing"));
    for (const QString& note : plan.notes)
        printLine(out, QStringLiteral("  note              ") + note);
    return 0;
}

} // namespace Diagnostics
