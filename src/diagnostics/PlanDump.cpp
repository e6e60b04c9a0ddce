#include "diagnostics/PlanDump.h"

#include "diagnostics/Output.h"
#include "diagnostics/RuntimeDump.h"
#include "engine/Compose.h"
#include "engine/Docker.h"
#include "engine/Listings.h"
#include "engine/Teardown.h"
#include "engine/Usage.h"
#include "platform/ByteCount.h"
#include "platform/DiskLook.h"
#include "store/StoreEngine.h"

#include <QTextStream>

#include <algorithm>
#include <utility>

namespace Diagnostics {

namespace {

// Volume name -> its size for display, from the engine's verbose disk-usage report. The engine
// measures what the volume holds; the size of its mount point on the host would say nothing about
// that (and is often not readable at all). Sizes below one byte are not worth printing.
QMap<QString, QString> volumeSizes(const std::optional<Runtime>& runtime)
{
    QString detail;
    try {
        detail = Docker::diskUsageReport(runtime, true);
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

} // namespace

int runPlan(QTextStream& out, const QString& project, const std::optional<QString>& context)
{
    if (!knownRuntime(out, context))
        return 2;
    const std::optional<Runtime> runtime = chosenRuntime(context);

    QList<Container> containers;
    try {
        containers = Docker::containers(runtime);
    } catch (...) {
        // Without the listing there is no plan at all: a script reading this must not take it for one.
        printLine(out, QStringLiteral("plan failed: cannot list containers: ") +
                           failureText(std::current_exception()));
        return 1;
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

    QStringList everyName;
    for (const Container& container : std::as_const(containers))
        everyName << container.name;
    Docker::PlanReadings readings;
    readings.mounts = Docker::volumeMounts(everyName, runtime, Docker::listingLimit, nullptr);
    // The folder gets the delete sheet's time: a mount that stalls holds the plan up no longer, and a
    // folder that has not answered is planned as the sheet plans it, neither read nor offered.
    ComposeProject chosen = *found;
    std::optional<QString> unanswered;
    std::optional<std::optional<QStringList>> files;
    if (chosen.workingDir) {
        files = Platform::lookAtFolder(
            *chosen.workingDir,
            [chosen]() -> std::optional<QStringList> {
                try {
                    return Docker::composeFilesOf(chosen);
                } catch (...) {
                    return std::nullopt;
                }
            },
            Platform::folderAnswerLimit);
        if (!files)
            unanswered = std::exchange(chosen.workingDir, std::nullopt);
    }
    // Under a name compose does not take as given it would read the folder's own project instead.
    if (chosen.workingDir && *files && Docker::composeAcceptsName(chosen.name)) {
        try {
            readings.config = Docker::composeProject(*chosen.workingDir, chosen.name, **files);
        } catch (const Docker::TimedOut&) {
            readings.configTimedOut = true;
        } catch (const std::exception&) {
        }
    }
    // Only the labels of the listing say which volumes compose made for the project: without it,
    // none is planned.
    try {
        readings.listed = Docker::volumes(runtime);
    } catch (const std::exception&) {
    }

    TeardownPlan plan = Docker::planFrom(chosen, containers, readings, volumeSizes(runtime));
    if (unanswered)
        plan.notes << Platform::folderNotAnswering(*unanswered) +
                          QStringLiteral(" Volumes its compose file declares that no container mounts are not "
                                         "planned, and the folder is not offered for the Trash.");

    printLine(out, QStringLiteral("delete ") + plan.project + QStringLiteral(" would:"));
    for (const QString& name : plan.containers)
        printLine(out, QStringLiteral("  remove container  ") + name);
    for (const VolumeUse& volume : plan.removable())
        printLine(out, QStringLiteral("  remove volume     ") + volume.name +
                           (volume.size ? QStringLiteral("  (") + *volume.size + u')' : QString()));
    for (const VolumeUse& volume : plan.kept())
        printLine(out, QStringLiteral("  KEEP volume       ") + volume.name +
                           QStringLiteral(u"  \u2014 used by ") + volume.usedBy.join(QStringLiteral(", ")));
    if (plan.workingDir)
        printLine(out, QStringLiteral("  offer to trash    ") + *plan.workingDir);
    if (plan.containers.isEmpty() && plan.volumes.isEmpty())
        printLine(out, QStringLiteral("  nothing"));
    for (const QString& note : plan.notes)
        printLine(out, QStringLiteral("  note              ") + note);
    return 0;
}

} // namespace Diagnostics
