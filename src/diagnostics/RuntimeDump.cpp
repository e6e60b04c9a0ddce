#include "diagnostics/RuntimeDump.h"

#include "diagnostics/Output.h"
#include "engine/Compose.h"
#include "engine/Docker.h"
#include "engine/Listings.h"
#include "engine/ProjectLooks.h"
#include "engine/Stats.h"
#include "engine/Usage.h"
#include "platform/ByteCount.h"
#include "platform/DiskLook.h"
#include "store/StoreEngine.h"

#include <QDateTime>
#include <QTextStream>

#include <algorithm>

namespace Diagnostics {

namespace {

// A listing, or none after its failure line: what follows would only repeat the failure.
template <typename F>
auto listed(QTextStream& out, F listing) -> std::optional<decltype(listing())>
{
    try {
        return listing();
    } catch (...) {
        printLine(out, QStringLiteral("dump failed: ") + failureText(std::current_exception()));
        return std::nullopt;
    }
}

QString when(bool condition, const QString& text)
{
    return condition ? text : QString();
}

void printRuntimes(QTextStream& out)
{
    Docker::Discovery discovery;
    try {
        discovery = Docker::runtimes();
    } catch (const std::exception&) {
        return; // a client without contexts still has containers to show
    }
    for (const RuntimeEntry& entry : std::as_const(discovery.list))
        printLine(out, QStringLiteral("runtime: ") + entry.label() + QStringLiteral("  ") + entry.endpoint +
                           when(discovery.current == entry.runtime, QStringLiteral("  [opens here]")));
}

// What a project's folder holds, as far as the dump needs it.
enum class FolderState { missing, noComposeFile, composeFile };

// What compose reads a project from, as Up reads it; none when a folder or file of it cannot be named
// exactly.
std::optional<Docker::ComposeFileNames> filesOf(const ComposeProject& project)
{
    try {
        return Docker::composeFileNames(project);
    } catch (const DockerError&) {
        return std::nullopt;
    }
}

// Looks at every project's folder at once, off this thread, as the window does: for the files its
// containers were started from where its folder's own look would not find them (`-f stack.yml`), else
// for its folder's own. All are waited for within the time one folder is given: a folder on a mount
// that stalls reads as not answering, however many do, and the folders that answer are not queued
// behind it.
QList<std::optional<FolderState>> lookAtFolders(const QList<ComposeProject>& projects)
{
    const QDeadlineTimer deadline(Platform::folderAnswerLimit);
    QList<Platform::PendingLook<Docker::FolderFacts>> folderLooks;
    QList<Platform::PendingLook<Docker::ComposeFilesFound>> fileLooks;
    QList<bool> byFiles;
    for (const ComposeProject& project : projects) {
        const QStringList files = project.workingDir ? Docker::lookedForFiles(project) : QStringList();
        byFiles << !files.isEmpty();
        folderLooks.append(project.workingDir && files.isEmpty()
                               ? Platform::startFolderLook(*project.workingDir,
                                                           Docker::Looks::folderFacts(*project.workingDir),
                                                           Platform::folderAnswerLimit)
                               : Platform::PendingLook<Docker::FolderFacts>());
        fileLooks.append(!files.isEmpty()
                             ? Platform::startFolderLook(*project.workingDir,
                                                         Docker::Looks::composeFiles(*project.workingDir, files),
                                                         Platform::folderAnswerLimit)
                             : Platform::PendingLook<Docker::ComposeFilesFound>());
    }
    QList<std::optional<FolderState>> states;
    for (qsizetype i = 0; i < projects.size(); ++i) {
        if (!projects[i].workingDir) {
            states.append(FolderState::missing);
        } else if (byFiles[i]) {
            const auto found = fileLooks[i].wait(Platform::remaining(deadline));
            states.append(!found                     ? std::nullopt
                          : !found->there            ? std::optional(FolderState::missing)
                          : found->missing.isEmpty() ? std::optional(FolderState::composeFile)
                                                     : std::optional(FolderState::noComposeFile));
        } else if (const auto facts = folderLooks[i].wait(Platform::remaining(deadline))) {
            states.append(!facts->there        ? FolderState::missing
                          : facts->composeFile ? FolderState::composeFile
                                               : FolderState::noComposeFile);
        } else {
            states.append(std::nullopt);
        }
    }
    return states;
}

void printProject(QTextStream& out, const ComposeProject& project, const std::optional<FolderState>& folder,
                  const std::optional<Docker::ComposeFileNames>& names)
{
    QString suffix;
    if (!folder)
        suffix = QStringLiteral("  [workdir does not answer - compose disabled]");
    else if (*folder == FolderState::missing)
        suffix = QStringLiteral("  [workdir missing - compose disabled]");
    else if (*folder == FolderState::noComposeFile)
        suffix = QStringLiteral("  [no compose file - compose disabled]");
    const bool composeThere = folder == FolderState::composeFile;
    printLine(out, QStringLiteral("  project ") + project.displayName() + QStringLiteral("  ") +
                       QString::number(project.runningCount()) + u'/' +
                       QString::number(project.containers.size()) + suffix);

    if (composeThere) {
        // Checked as Up reads it: with the files and env files its containers were made from.
        const ComposeCheck check = names ? Docker::checkCompose(names->dir, names->files, names->envFiles)
                                         : Docker::checkCompose(*project.workingDir);
        if (!check.isValid()) {
            printLine(out, QStringLiteral("    compose config: INVALID - ") + check.message);
        } else if (check.warning) {
            printLine(out, QStringLiteral("    compose config: ok - WARNING"));
            printLine(out, QStringLiteral("      ") + *check.warning);
        } else {
            printLine(out, QStringLiteral("    compose config: ok"));
        }
    }
    for (const Container& container : project.containers)
        printLine(out, QStringLiteral("    - ") + container.name + QStringLiteral("  [") + container.state +
                           QStringLiteral("]  ") + container.image);
}

bool isApple(const std::optional<Runtime>& runtime)
{
    if (!runtime)
        return false;
    if (runtime->isSocket())
        return true;
    try {
        const Docker::Discovery discovery = Docker::runtimes();
        for (const RuntimeEntry& entry : discovery.list)
            if (entry.runtime == *runtime)
                return entry.endpoint.contains(QStringLiteral("socktainer"));
    } catch (const std::exception&) {
    }
    return false;
}

// One reading over the interval between two samples taken back to back. The Apple runtime reports
// cumulative processor time, so its first sample only sets the baseline; the docker client's first
// sample is discarded because its processor figure covers an arbitrary interval.
std::optional<LiveStats> twoSamples(const std::optional<Runtime>& runtime)
{
    // The same commands, with the same time limit, as the application's own statistics.
    const std::shared_ptr<StoreEngine> engine = StoreEngine::system();
    if (isApple(runtime)) {
        const std::optional<QString> first = engine->appleStats();
        if (!first)
            return std::nullopt;
        const Docker::ContainerStatsReading baseline =
            Docker::parseContainerStats(*first, CPUSample::initial(), QDateTime::currentDateTimeUtc());
        const std::optional<QString> second = engine->appleStats();
        if (!second)
            return std::nullopt;
        return Docker::parseContainerStats(*second, baseline.sample, QDateTime::currentDateTimeUtc()).stats;
    }

    if (!engine->dockerStats(runtime))
        return std::nullopt;
    const std::optional<QString> second = engine->dockerStats(runtime);
    if (!second)
        return std::nullopt;
    return Docker::parseDockerStats(*second);
}

void printReading(QTextStream& out, const std::optional<Runtime>& runtime, const QList<Container>& containers)
{
    const std::optional<LiveStats> stats = twoSamples(runtime);
    if (!stats) {
        printLine(out, QStringLiteral("in use: this runtime did not report processor or memory"));
        return;
    }
    QStringList names;
    for (const Container& container : containers)
        names << container.name;
    const std::optional<double> cpu = stats->cpuOf(names);
    const std::optional<qint64> memory = stats->memoryOf(names);
    // Beyond qint64 only on a machine that does not exist; held at the end rather than wrapped.
    const qint64 physical = qint64(std::min<quint64>(Docker::physicalMemory(), quint64(INT64_MAX)));
    printLine(out, QStringLiteral("in use: ") + (cpu ? Docker::percent(*cpu) : unknown) +
                       QStringLiteral(" of the processor  ") +
                       (memory ? Platform::memorySize(*memory) : unknown) + QStringLiteral(" of ") +
                       Platform::memorySize(physical));

    for (const Container& container : containers) {
        if (container.state != u"running")
            continue;
        const auto containerCpu = stats->cpu.constFind(container.name);
        const auto containerMemory = stats->memory.constFind(container.name);
        printLine(out,
                  QStringLiteral("  ") + container.name + QStringLiteral("  ") +
                      (containerCpu != stats->cpu.cend() ? Docker::percent(containerCpu.value()) : unknown) +
                      QStringLiteral("  ") +
                      (containerMemory != stats->memory.cend() ? Platform::memorySize(containerMemory.value())
                                                               : unknown));
    }
}

void dump(QTextStream& out, const std::optional<Runtime>& runtime)
{
    printRuntimes(out);

    const auto listedContainers = listed(out, [&] { return Docker::containers(runtime); });
    if (!listedContainers)
        return;
    const QList<Container>& containers = *listedContainers;
    printLine(out, QStringLiteral("runtime: ") + (runtime ? runtime->name : QStringLiteral("(current)")) +
                       QStringLiteral("  containers: ") + QString::number(containers.size()));

    const QList<ComposeProject> projects = Docker::group(containers);
    const QList<std::optional<FolderState>> folders = lookAtFolders(projects);
    for (qsizetype i = 0; i < projects.size(); ++i)
        printProject(out, projects[i], folders[i], filesOf(projects[i]));
    for (const Container& container : Docker::ungrouped(containers))
        printLine(out, QStringLiteral("  (no project) ") + container.name + QStringLiteral("  [") +
                           container.state + u']');

    const auto images = listed(out, [&] { return Docker::images(runtime); });
    if (!images)
        return;
    const auto volumes = listed(out, [&] { return Docker::volumes(runtime); });
    if (!volumes)
        return;
    printLine(out, QStringLiteral("images: ") + QString::number(images->size()) +
                       QStringLiteral("  volumes: ") + QString::number(volumes->size()));

    const auto measured = listed(out, [&] { return Docker::usage(runtime); });
    if (!measured)
        return;
    const DiskUsage& usage = *measured;
    printLine(out, QStringLiteral("on disk: ") + Platform::fileSize(usage.total) +
                       QStringLiteral("  reclaimable: ") + Platform::fileSize(usage.reclaimable()));
    for (const ComposeProject& project : projects)
        printLine(out, QStringLiteral("  project ") + project.displayName() + QStringLiteral("  ") +
                           Platform::fileSize(usage.bytes(project)));
    for (const Reclaimable& item : usage.candidates)
        printLine(out, QStringLiteral("  could remove ") + Reclaimable::rawValue(item.kind) + u' ' +
                           item.name + QStringLiteral("  ") + Platform::fileSize(item.bytes) +
                           (item.note ? QStringLiteral("  [") + *item.note + u']' : QString()));

    printReading(out, runtime, containers);
}

} // namespace

std::optional<Runtime> chosenRuntime(const std::optional<QString>& context)
{
    if (!context)
        return std::nullopt;
    if (*context == QLatin1StringView(Docker::appleRuntimeName))
        return Docker::appleRuntime();
    return Runtime::context(*context);
}

bool knownRuntime(QTextStream& out, const std::optional<QString>& context)
{
    if (!context || *context == QLatin1StringView(Docker::appleRuntimeName))
        return true;
    try {
        return knownRuntime(out, context, Docker::runtimes().list);
    } catch (const std::exception&) {
        return true;
    }
}

bool knownRuntime(QTextStream& out, const std::optional<QString>& context,
                  const std::optional<QList<RuntimeEntry>>& listed)
{
    if (!context || *context == QLatin1StringView(Docker::appleRuntimeName) || !listed)
        return true;
    // The client's built-in context is always there, even where the list leaves it out as an alias.
    QStringList names{QStringLiteral("default")};
    for (const RuntimeEntry& entry : std::as_const(*listed))
        if (!names.contains(entry.id()))
            names << entry.id();
    if (names.contains(*context))
        return true;
    printLine(out, QStringLiteral("no runtime named ") + *context + QStringLiteral(". Found: ") +
                       names.join(QStringLiteral(", ")));
    return false;
}

int runDump(QTextStream& out, const std::optional<QString>& context)
{
    if (!knownRuntime(out, context))
        return 2;
    dump(out, chosenRuntime(context));
    return 0;
}

} // namespace Diagnostics
