// One refresh's application-side work: listings of 1,000 containers on three runtimes applied to the
// store, the projects derived and the containers matched, with and without a filter. The engine answers
// instantly with listings parsed once from recorded client output, so what is timed is the store's own
// share of a 2-second poll, including its hop to the background pool and back. Target: under 2 ms.
#include "engine/Listings.h"
#include "platform/PreparedProcess.h"
#include "platform/Settings.h"
#include "store/AppStore.h"
#include "store/ScriptedEngine.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const QList<Runtime> runtimes{Runtime::context("colima"), Runtime::context("desktop"),
                              Runtime::socket("apple-container", "/run/apple.sock")};

QByteArray recorded(const char* name)
{
    QFile file(QStringLiteral(VOSKEL_FIXTURES "/engine/") + QLatin1StringView(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// `count` container lines made from recorded ones, with unique names and identifiers and one compose
// project per twenty containers, each in a folder of its own under `projects` that holds its compose
// file, as the projects of a real user do.
QString listing(int first, int count, const QTemporaryDir& projects)
{
    QList<QByteArray> usable;
    for (const QByteArray& line :
         recorded("ps-recorded.ndjson").split('\n') + recorded("ps-names.ndjson").split('\n'))
        if (!line.trimmed().isEmpty())
            usable << line;
    QByteArray text;
    for (int i = first; i < first + count && !usable.isEmpty(); ++i) {
        QByteArray line = usable[i % usable.size()];
        line.replace("\"Names\":\"", "\"Names\":\"c" + QByteArray::number(i) + "-");
        line.replace("\"ID\":\"", "\"ID\":\"" + QByteArray::number(i, 16) + "x");
        const QByteArray project = "shop" + QByteArray::number(i / 20);
        const QByteArray dir = QFile::encodeName(projects.filePath(QString::fromLatin1(project)));
        line.replace("project=vskrecshop", "project=" + project);
        line.replace("project\":\"vskrecshop\"", "project\":\"" + project + '"');
        line.replace("working_dir=/tmp/vskrec/shop", "working_dir=" + dir);
        line.replace("working_dir\":\"/tmp/vskrec/shop", "working_dir\":\"" + dir);
        if (line.contains("working_dir=" + dir) && !QFile::exists(QString::fromLocal8Bit(dir))) {
            QDir().mkpath(QString::fromLocal8Bit(dir));
            QFile compose(QString::fromLocal8Bit(dir) + QStringLiteral("/compose.yaml"));
            if (compose.open(QIODevice::WriteOnly))
                compose.write("services: {}\n");
        }
        text += line + '\n';
    }
    return Platform::decodeUtf8Strict(text);
}

struct Bench {
    QTemporaryDir projects;
    std::unique_ptr<Platform::Settings> settings = Platform::Settings::inMemory();
    std::shared_ptr<StoreTesting::ScriptedEngine> engine = std::make_shared<StoreTesting::ScriptedEngine>();
    StoreTesting::FakeClock clock;
    std::unique_ptr<AppStore> store;

    Bench()
    {
        const QString images = QString::fromUtf8(recorded("images.ndjson"));
        const QString volumes = QString::fromUtf8(recorded("volumes.ndjson"));
        QList<RuntimeEntry> entries;
        const int counts[] = {334, 333, 333};
        int first = 0;
        for (qsizetype r = 0; r < runtimes.size(); ++r) {
            const Runtime& runtime = runtimes[r];
            engine->setListing(
                runtime, {Docker::parseContainers(listing(first, counts[r], projects), runtime),
                          Docker::parseImages(images, runtime), Docker::parseVolumes(volumes, runtime)});
            first += counts[r];
            entries << RuntimeEntry{runtime, "tcp://127.0.0.1:" + QString::number(2375 + r), true, r == 0};
        }
        store = std::make_unique<AppStore>(*settings, engine, clock.clock());
        store->setRuntimes(entries);
        store->setRuntime(runtimes.first());
        store->setShowAll(true);
        QCoro::waitFor(store->refresh(false)); // the registry learns the projects once
    }

    qsizetype refreshOnce(const QString& filter)
    {
        QCoro::waitFor(store->refresh(false));
        store->setFilter(QString());
        qsizetype seen = store->projects().size() + store->matchingContainers().size();
        store->setFilter(filter);
        seen += store->projects().size() + store->matchingContainers().size();
        return seen;
    }
};

Bench& bench()
{
    static Bench instance;
    return instance;
}

void refreshThreeRuntimes(benchmark::State& state)
{
    Bench& b = bench();
    for (auto _ : state)
        benchmark::DoNotOptimize(b.refreshOnce(QStringLiteral("shop1")));
    state.counters["containers"] = double(b.store->containers().size());
}
BENCHMARK(refreshThreeRuntimes)->Unit(benchmark::kMillisecond);

void printMedian()
{
    Bench& b = bench();
    std::vector<double> samples;
    for (int i = 0; i < 101; ++i) {
        QElapsedTimer timer;
        timer.start();
        benchmark::DoNotOptimize(b.refreshOnce(QStringLiteral("shop1")));
        samples.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(samples.begin(), samples.end());
    std::printf("\none refresh's application-side work, %lld containers on %lld runtimes: %.3f ms (median of "
                "101; target under 2 ms)\n",
                static_cast<long long>(b.store->containers().size()), static_cast<long long>(runtimes.size()),
                samples[samples.size() / 2]);
}

// The median of 101 runs of `work`, in milliseconds.
template <typename Work>
double median(Work&& work)
{
    std::vector<double> samples;
    for (int i = 0; i < 101; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        samples.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

// Where the time goes, for whoever has to bring it down again.
void printParts()
{
    Bench& b = bench();
    for (const QString& filter : {QString(), QStringLiteral("shop1")}) {
        b.store->setFilter(filter);
        std::printf("  filter \"%s\": projects %.3f ms, matching containers %.3f ms\n", qPrintable(filter),
                    median([&] { benchmark::DoNotOptimize(b.store->projects()); }),
                    median([&] { benchmark::DoNotOptimize(b.store->matchingContainers()); }));
    }
    std::printf("  the refresh alone (pool hop, apply, registry): %.3f ms\n",
                median([&] { QCoro::waitFor(b.store->refresh(false)); }));
}

// Projects the registry remembers without containers ride along every refresh: it records what it
// lists against them, and asks what their containers mount only when those change. 500 of them on each
// runtime should leave the refresh's own work flat.
void printRemembered()
{
    Bench& b = bench();
    const auto refresh = [&] { QCoro::waitFor(b.store->refresh(false)); };
    median(refresh); // settled first
    const double without = median(refresh);
    ProjectRegistry registry = b.store->registry();
    for (const Runtime& runtime : runtimes)
        for (int i = 0; i < 500; ++i) {
            const QString name = QStringLiteral("down%1").arg(i);
            const QString dir = b.projects.filePath(name);
            registry.byRuntime[runtime.id()]
                << KnownProject{name,
                                dir,
                                {"db", "web"},
                                {},
                                {StartedFrom{dir + "/compose.yaml", dir, dir + "/prod.env", {"web"}}},
                                {dir + "/data"}};
        }
    b.store->setRegistry(registry);
    median(refresh);
    const double with = median(refresh);
    std::printf(
        "  with 500 remembered projects more on each runtime: the refresh alone %.3f ms = %.2f of the "
        "figure without them (target about 1)\n",
        with, without > 0 ? with / without : 0.0);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printMedian();
    printParts();
    printRemembered();
    return 0;
}
