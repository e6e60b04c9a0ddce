#include "diagnostics/DumpAll.h"

#include "diagnostics/Output.h"
#include "engine/Docker.h"
#include "engine/Listings.h"
#include "engine/ProjectRegistry.h"
#include "engine/Stats.h"
#include "platform/ByteCount.h"
#include "platform/Settings.h"
#include "store/AppStore.h"

#include <QTextStream>

#include <algorithm>

namespace Diagnostics {

namespace {

QString nameOf(const std::optional<Runtime>& runtime)
{
    return runtime ? runtime->name : QStringLiteral("?");
}

// The user's own settings are only read, and the file is closed again before anything is written.
ProjectRegistry userRegistry()
{
    return ProjectRegistry::load(*Platform::Settings::standard());
}

void printListings(QTextStream& out, const AppStore& store)
{
    for (const RuntimeEntry& entry : store.runtimes())
        printLine(out, QStringLiteral("runtime: ") + entry.label() +
                           (entry.reachable ? QString() : QStringLiteral("  [skipped]")));

    printLine(out, QStringLiteral("containers: ") + QString::number(store.containers().size()) +
                       QStringLiteral("  running: ") + QString::number(store.runningCount()));
    for (const ComposeProject& project : store.projects()) {
        // A remembered project without containers still shows how many services it has; what it runs
        // is not known while its runtime does not answer.
        const qint64 total = project.totalCount();
        const QString running =
            store.hasListed(project.runtime) ? QString::number(project.runningCount()) : unknown;
        printLine(out, QStringLiteral("  project ") + project.displayName() + QStringLiteral("  on ") +
                           nameOf(project.runtime) + QStringLiteral("  ") + running + u'/' +
                           QString::number(total));
        for (const Container& container : project.containers)
            printLine(out, QStringLiteral("    - ") + container.name + QStringLiteral("  [") +
                               container.state + QStringLiteral("]  on ") + nameOf(container.runtime));
    }
    for (const Container& container : Docker::ungrouped(store.matchingContainers()))
        printLine(out, QStringLiteral("  (no project) ") + container.name + QStringLiteral("  [") +
                           container.state + QStringLiteral("]  on ") + nameOf(container.runtime));
    printLine(out, QStringLiteral("images: ") + QString::number(store.images().size()) +
                       QStringLiteral("  volumes: ") + QString::number(store.volumes().size()));
}

void printUsage(QTextStream& out, const AppStore& store)
{
    if (!store.usage())
        return;
    const DiskUsage& usage = *store.usage();
    printLine(out, QStringLiteral("on disk: ") + Platform::fileSize(usage.total) +
                       QStringLiteral("  reclaimable: ") + Platform::fileSize(usage.reclaimable()));
    for (const Reclaimable& item : usage.candidates)
        printLine(out, QStringLiteral("  could remove ") + Reclaimable::rawValue(item.kind) + u' ' +
                           item.name + QStringLiteral("  on ") + nameOf(item.runtime));
}

void printReading(QTextStream& out, const AppStore& store)
{
    QStringList names;
    for (const Container& container : store.containers())
        names << container.name;
    std::optional<double> cpu;
    std::optional<qint64> memory;
    if (const std::optional<LiveStats>& stats = store.stats()) {
        cpu = stats->cpuOf(names);
        memory = stats->memoryOf(names);
    }
    printLine(out, QStringLiteral("in use: ") + (cpu ? Docker::percent(*cpu) : unknown) +
                       QStringLiteral(" of the processor  ") +
                       (memory ? Platform::memorySize(*memory) : unknown));
}

} // namespace

QCoro::Task<> runDumpAll(QTextStream& out)
{
    const QString suite = QString::fromLatin1(dumpSuite);
    std::unique_ptr<Platform::Settings> defaults = Platform::Settings::suite(suite);
    if (!defaults->isUsable())
        defaults = Platform::Settings::inMemory();

    {
        AppStore store(*defaults);
        store.setRegistry(userRegistry());
        // An empty list when discovery fails; the refresh then decides what answers, and says why.
        co_await store.discover();
        // Showing all runtimes refreshes them, awaited here.
        co_await store.show(true);
        printListings(out, store);

        co_await store.loadUsage();
        printUsage(out, store);

        // Apple's runtime reports processor time, so its share needs a second sample against the first.
        co_await store.loadStats();
        co_await store.loadStats();
        printReading(out, store);

        if (store.notice())
            printLine(out, QStringLiteral("notice: ") + *store.notice());
        if (store.error())
            printLine(out, QStringLiteral("error: ") + *store.error());
    }

    // Closed first: closing writes the file, which would bring the suite back.
    defaults.reset();
    Platform::Settings::removeSuite(suite);
}

} // namespace Diagnostics
